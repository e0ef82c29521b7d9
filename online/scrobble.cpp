// setlist scrobble: sends every played track of a set to ListenBrainz and Last.fm
// accounts. What each account accepted is appended to the sent file beside the set and
// synced after each accepted request, so a run that ends at any moment loses nothing and
// sends again at most the one request that was in flight.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "online/commands.h"
#include "online/online.h"
#include "online/scrobbling.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/set_reader.h"
#include "setfile/text.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string set;
  std::vector<std::string> to;
  std::string accountsPath;
  bool follow = false;
  bool dryRun = false;
};

std::optional<int> parseOptions(int argc, char** argv, Options* options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (option && arg == "--") {
      optionsEnded = true;
    } else if (option && (arg == "--help" || arg == "-h")) {
      printHelp();
      return kStatusOk;
    } else if (option && arg == "--follow") {
      options->follow = true;
    } else if (option && arg == "--dry-run") {
      options->dryRun = true;
    } else if (option && (arg == "--to" || arg == "--accounts")) {
      if (i + 1 == argc || std::string_view(argv[i + 1]).empty()) {
        return usageError(wrongCommandLine(arg + " needs a value"));
      }
      const std::string value = argv[++i];
      if (arg == "--accounts") {
        options->accountsPath = value;
        continue;
      }
      for (std::string& service : splitList(value)) options->to.push_back(std::move(service));
    } else if (option) {
      return usageError(unknownOption("scrobble", arg));
    } else if (!options->set.empty()) {
      return usageError(wrongCommandLine("one SET only"));
    } else {
      options->set = arg;
    }
  }
  if (options->set.empty())
    return usageError(wrongCommandLine("scrobble needs a SET (a playlist or set log)"));
  if (options->accountsPath.empty()) options->accountsPath = defaultAccountsPath();
  return std::nullopt;
}

bool fileExists(const std::string& path) { return platform::fileModificationTime(path).ok(); }

// The sent file of the set: what is known of it, and appending to it.
class SentFile {
 public:
  explicit SentFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  const SentListens& known() const { return known_; }

  platform::Status load() {
    if (!fileExists(path_)) {
      known_ = SentListens{};
      isNew_ = true;
      return {};
    }
    auto contents = platform::readWholeFile(path_);
    if (!contents) {
      return platform::makeError(path_,
                                 "cannot read the record of sent tracks: " + contents.error().text);
    }
    known_ = parseSentFile(*contents);
    isNew_ = contents->empty();
    if (known_.badLines > 0) {
      platform::reportWarning(platform::makeError(
          path_, std::to_string(known_.badLines) + " lines are not records of sent tracks"));
    }
    return {};
  }

  // Makes sure the file can be written before anything is sent: a record that cannot be
  // kept would have the next run send the same tracks again.
  platform::Status checkWritable() {
    platform::File file;
    platform::Error err;
    platform::Status done =
        platform::openForAppend(path_, &file, &err) == platform::OpenResult::kOpened
            ? platform::syncAndClose(file)
            : platform::Status(err);
    if (!done) {
      return platform::makeError(path_, "cannot record the sent tracks: " + done.error().text);
    }
    return {};
  }

  // Appends the listens an account accepted and brings them to stable storage.
  platform::Status record(const std::string& account, const std::vector<Listen>& listens,
                          std::size_t first, std::size_t count) {
    std::string text;
    if (isNew_) text = "# The tracks of this set that each account accepted (setlist scrobble)\n";
    if (!known_.endsInLineEnd) text += '\n';
    for (std::size_t i = first; i < first + count; ++i) {
      text += formatSentLine(account, listens[i]);
      text += '\n';
    }
    platform::File file;
    platform::Error err;
    platform::Status done =
        platform::openForAppend(path_, &file, &err) == platform::OpenResult::kOpened
            ? platform::appendAll(file, text)
            : platform::Status(err);
    if (done) done = platform::syncAndClose(file);
    if (!done) {
      if (file.handle) static_cast<void>(platform::syncAndClose(file));
      return platform::makeError(path_, "cannot record the sent tracks: " + done.error().text);
    }
    isNew_ = false;
    known_.endsInLineEnd = true;
    for (std::size_t i = first; i < first + count; ++i)
      known_.accepted.emplace(account, listens[i]);
    return {};
  }

 private:
  std::string path_;
  SentListens known_;
  bool isNew_ = true;
};

enum class Service { kListenBrainz, kLastfm };

// The least time between two requests to an account: ListenBrainz takes one a second;
// Last.fm counts more than five a second as abuse.
std::chrono::milliseconds spacing(Service service) {
  return std::chrono::milliseconds(service == Service::kListenBrainz ? 1000 : 250);
}

// The moment a pause that begins now ends. ZV_SCROBBLE_PACE, a fraction from 0.001 to 1,
// shortens every pause for the tests' mock servers, which need no real pacing; the
// requests and their order stay the same.
Clock::time_point after(Clock::duration pause) {
  static const double kScale = [] {
    const char* given = std::getenv("ZV_SCROBBLE_PACE");
    const double scale = given != nullptr ? std::atof(given) : 1.0;
    return scale >= 0.001 && scale <= 1.0 ? scale : 1.0;
  }();
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(pause * kScale);
}

// One account to send to, and how far it got.
struct Target {
  Account account;
  Service service = Service::kListenBrainz;
  std::size_t sent = 0;             // accepted in this run
  std::size_t before = 0;           // accepted by an earlier run
  std::size_t waiting = 0;          // still to send when it stopped
  bool stopped = false;             // it refused, or gave up: nothing more goes to it
  Clock::time_point nextRequest{};  // see spacing(), or as the server asked
  bool tooOldNoted = false;
};

// Waits until `when`; false when a stop (Ctrl-C) came first.
bool waitUntil(Clock::time_point when) {
  while (!platform::stopRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    if (left.count() <= 0) return true;
    platform::sleepMilliseconds(static_cast<int>(std::min<long long>(left.count(), 500)));
  }
  return false;
}

// Sends the request on a thread of its own and waits for its answer, or for a stop
// (Ctrl-C), which ends the wait at once: the request is then left in flight, and the
// sent file does not count it.
std::optional<platform::Expected<platform::HttpResponse>> sendUnlessStopped(
    const platform::HttpRequest& request) {
  struct Exchange {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<platform::Expected<platform::HttpResponse>> answer;
  };
  const auto exchange = std::make_shared<Exchange>();
  std::thread([exchange, request] {
    auto answer = platform::sendRequest(request);
    const std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->answer.emplace(std::move(answer));
    exchange->done.notify_one();
  }).detach();
  std::unique_lock<std::mutex> lock(exchange->mutex);
  while (!exchange->answer) {
    if (platform::stopRequested()) return std::nullopt;
    exchange->done.wait_for(lock, std::chrono::milliseconds(100));
  }
  return std::move(exchange->answer);
}

class Scrobbler {
 public:
  Scrobbler(const Options& options, std::vector<Target> targets, SentFile* sentFile)
      : options_(options), targets_(std::move(targets)), sent_(sentFile) {}

  std::vector<Target>& targets() { return targets_; }

  // The listens of the set that `target` has not accepted yet. Tracks Last.fm would drop
  // are left out, with a note the first time.
  std::vector<Listen> pending(Target& target, const std::vector<Listen>& listens) {
    std::vector<Listen> result;
    std::size_t tooOld = 0;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    target.before = 0;
    for (const Listen& listen : listens) {
      if (sent_->known().has(target.account.name, listen)) {
        ++target.before;
      } else if (target.service == Service::kLastfm && listen.at < now - kLastfmOldestSeconds) {
        ++tooOld;
      } else {
        result.push_back(listen);
      }
    }
    target.before -= std::min(target.before, target.sent);
    if (tooOld > 0 && !target.tooOldNoted) {
      platform::reportWarning(target.account.name + ": " + std::to_string(tooOld) +
                              " tracks are older than 14 days and are not sent (Last.fm drops "
                              "them)");
      target.tooOldNoted = true;
    }
    return result;
  }

  // The request for the listens from `first` on; how many it holds.
  static std::size_t request(const Target& target, const std::vector<Listen>& listens,
                             std::size_t first, platform::HttpRequest* request,
                             std::string* shown) {
    return target.service == Service::kListenBrainz
               ? listenBrainzRequest(target.account, listens, first, request, shown)
               : lastfmRequest(target.account, listens, first, request, shown);
  }

  // Prints the requests a run would send to the target.
  void show(Target& target, const std::vector<Listen>& listens) {
    const std::vector<Listen> todo = pending(target, listens);
    std::cout << "# " << target.account.name << " ("
              << (target.service == Service::kListenBrainz ? "ListenBrainz" : "Last.fm")
              << "): " << todo.size() << " tracks to send, " << target.before << " sent before\n";
    platform::HttpRequest request;
    std::string shown;
    for (std::size_t first = 0, number = 1; first < todo.size(); ++number) {
      const std::size_t count = Scrobbler::request(target, todo, first, &request, &shown);
      std::cout << "## request " << number << ": " << request.method << " " << request.url << ", "
                << count << " tracks\n"
                << shown << (shown.ends_with('\n') ? "" : "\n");
      first += count;
    }
  }

  // Sends what the target still lacks of the listens. False when it stopped: it refused,
  // gave up after its tries, or a stop was requested.
  bool send(Target& target, const std::vector<Listen>& listens) {
    if (target.stopped) return false;
    const std::vector<Listen> todo = pending(target, listens);
    platform::HttpRequest request;
    std::string shown;
    for (std::size_t first = 0; first < todo.size();) {
      const std::size_t count = Scrobbler::request(target, todo, first, &request, &shown);
      for (int failed = 0;;) {
        if (!waitUntil(target.nextRequest)) {
          target.waiting = todo.size() - first;
          return false;
        }
        const auto answer = sendUnlessStopped(request);
        if (!answer) {
          target.waiting = todo.size() - first;
          return false;
        }
        target.nextRequest = after(spacing(target.service));
        const Verdict verdict = target.service == Service::kListenBrainz
                                    ? judgeListenBrainz(*answer)
                                    : judgeLastfm(*answer);
        if (verdict.outcome == Outcome::kAccepted) {
          for (const std::string& ignored : verdict.ignored) {
            platform::reportWarning(target.account.name + ": Last.fm ignored " + ignored);
          }
          if (const platform::Status recorded =
                  sent_->record(target.account.name, todo, first, count);
              !recorded) {
            platform::reportError(recorded.error());
            return stop(target, todo.size() - first);
          }
          if (verdict.waitSeconds > 0) {
            target.nextRequest = after(std::chrono::seconds(verdict.waitSeconds));
          }
          target.sent += count;
          first += count;
          progress(target, todo.size(), first);
          break;
        }
        if (verdict.outcome == Outcome::kLoginAgain) {
          platform::reportError(target.account.name + ": " + verdict.message +
                                ": log in again: setlist login " + target.account.service +
                                " --name " + target.account.name);
          return stop(target, todo.size() - first);
        }
        if (verdict.outcome == Outcome::kRefused) {
          platform::reportError(target.account.name +
                                ": the server refused the tracks: " + verdict.message);
          return stop(target, todo.size() - first);
        }
        ++failed;
        if (!options_.follow && failed >= kMostTries) {
          platform::reportError(target.account.name + ": " + verdict.message + " (tried " +
                                std::to_string(failed) + " times)");
          return stop(target, todo.size() - first);
        }
        const int delay = retryDelaySeconds(failed, verdict.waitSeconds, options_.follow);
        platform::reportWarning(target.account.name + ": " + verdict.message +
                                "; trying again in " + std::to_string(delay) + " s");
        target.nextRequest = after(std::chrono::seconds(delay));
      }
    }
    target.waiting = 0;
    return true;
  }

 private:
  static bool stop(Target& target, std::size_t waiting) {
    target.stopped = true;
    target.waiting = waiting;
    return false;
  }

  // "lb: 1000 of 2500 tracks sent" on a terminal's stderr, kept on one line.
  static void progress(const Target& target, std::size_t total, std::size_t done) {
    if (!platform::isTerminal(platform::StandardStream::kError) || total < 100) return;
    std::cerr << "\r" << target.account.name << ": " << done << " of " << total << " tracks sent"
              << (done == total ? "\n" : "") << std::flush;
  }

  const Options& options_;
  std::vector<Target> targets_;
  SentFile* sent_;
};

// The accounts to send to: those named by --to, else every scrobbling account.
std::optional<int> chooseTargets(const Options& options, std::vector<Target>* targets) {
  const auto accounts = loadAccounts(options.accountsPath);
  if (!accounts) {
    return failed(accounts.error());
  }
  for (const Account& account : *accounts) {
    // The sent file holds the name as it is: one it could not hold would be sent again.
    if (!isAccountName(account.name)) {
      return failed(platform::makeError(
          options.accountsPath, "the account name '" + account.name + "' is not one login gives"));
    }
  }
  const auto serviceOf = [](const Account& account) -> std::optional<Service> {
    if (account.service == "listenbrainz") return Service::kListenBrainz;
    if (account.service == "lastfm") return Service::kLastfm;
    return std::nullopt;
  };
  if (options.to.empty()) {
    for (const Account& account : *accounts) {
      if (const auto service = serviceOf(account)) targets->push_back({account, *service});
    }
    if (targets->empty()) {
      platform::reportError(
          platform::makeError(options.accountsPath,
                              "no account to scrobble to: log in first with setlist login "
                              "listenbrainz or setlist login lastfm"));
      return kStatusFailed;
    }
    return std::nullopt;
  }
  for (const std::string& name : options.to) {
    const Account* account = findAccount(*accounts, name);
    if (!account) {
      platform::reportError(platform::makeError(
          options.accountsPath, "no account named '" + name + "' (see setlist accounts)"));
      return kStatusFailed;
    }
    const auto service = serviceOf(*account);
    if (!service) {
      platform::reportError(platform::makeError(
          options.accountsPath,
          "account '" + name + "' is for " + account->service + ", which takes no scrobbles"));
      return kStatusFailed;
    }
    targets->push_back({*account, *service});
  }
  return std::nullopt;
}

// Tracks without artist or song, named in one note.
struct Unsendable {
  std::size_t count = 0;
  std::string names;

  void add(const Record& record) {
    if (isEmptyTrack(record.track)) return;  // a cleared deck: no track at all
    if (++count <= 10) {
      char clock[16];
      std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", record.time.tm_hour, record.time.tm_min,
                    record.time.tm_sec);
      names += (count > 1 ? ", " : "") + std::string(clock) + " " + deckLetter(record.deck) +
               " \"" + record.track.artist + " - " + record.track.song + "\"";
    }
  }
  void note(const std::string& set) const {
    if (count == 0) return;
    platform::reportWarning(platform::makeError(
        set, std::to_string(count) + (count == 1 ? " track has" : " tracks have") +
                 " no artist or no song and " + (count == 1 ? "is" : "are") +
                 " not sent: " + names + (count > 10 ? ", ..." : "")));
  }
};

// The listens of the whole set, read as every command reads it.
std::optional<int> readSet(const Options& options, std::vector<Listen>* listens,
                           Unsendable* unsendable) {
  SetReader set;
  if (const platform::Status opened = set.open(options.set, false, false); !opened) {
    return failed(opened.error());
  }
  const platform::Status read = set.read([&](const Record& record) {
    if (const auto listen = listenOf(record)) {
      listens->push_back(*listen);
    } else {
      unsendable->add(record);
    }
    return true;
  });
  if (!read) return failed(read.error());
  if (set.stopped()) return kStatusStopped;
  return std::nullopt;
}

int summary(std::vector<Target>& targets, bool stopped) {
  bool failed = false;
  for (const Target& target : targets) {
    std::cout << target.account.name << ": " << target.sent << " tracks sent, " << target.before
              << " sent before";
    if (target.waiting > 0) {
      std::cout << "; " << target.waiting << " still wait (they go out on the next run)";
    }
    std::cout << "\n";
    failed = failed || target.stopped;
  }
  if (stopped) return kStatusStopped;
  return failed ? kStatusFailed : kStatusOk;
}

// --follow: the set log, read again every second; each complete new line is sent.
int follow(const Options& options, Scrobbler* scrobbler) {
  const std::string path =
      options.set.ends_with(".jsonl") ? options.set : setLogFileName(options.set);
  std::vector<Listen> listens;
  std::size_t offset = 0;
  std::size_t badLines = 0;
  bool reported = false;
  while (!platform::stopRequested()) {
    if (fileExists(path)) {
      auto contents = platform::readWholeFile(path);
      if (!contents && !reported) {
        platform::reportWarning(platform::makeError(path, contents.error().text));
        reported = true;
      }
      if (contents && contents->size() < offset) offset = 0;  // replaced: read it anew
      bool added = false;
      for (std::size_t end; contents && (end = contents->find('\n', offset)) != std::string::npos;
           offset = end + 1) {
        SetLogLine line;
        if (!parseSetLogLine(std::string_view(*contents).substr(offset, end - offset), &line)) {
          ++badLines;
          continue;
        }
        Record record;
        record.time = line.time.local;
        record.deck = line.deck;
        record.track = line.track;
        record.utcOffset = line.time.utcOffset;
        record.loaded = line.loaded;
        if (const auto listen = listenOf(record)) {
          listens.push_back(*listen);
          added = true;
        } else if (!isEmptyTrack(record.track)) {
          Unsendable one;
          one.add(record);
          one.note(path);
        }
      }
      bool anyLeft = false;
      for (Target& target : scrobbler->targets()) {
        if (added || target.waiting > 0) scrobbler->send(target, listens);
        anyLeft = anyLeft || !target.stopped;
      }
      if (!anyLeft) break;
    }
    platform::sleepMilliseconds(1000);
  }
  if (badLines > 0) {
    platform::reportWarning(
        platform::makeError(path, std::to_string(badLines) + " lines are not records"));
  }
  return summary(scrobbler->targets(), false);
}

}  // namespace

int runScrobble(int argc, char** argv) {
  Options options;
  if (const auto status = parseOptions(argc, argv, &options)) return *status;
  const bool following = options.follow && !options.dryRun;
  if (following && !options.set.ends_with(".jsonl") && setLogFileName(options.set).empty()) {
    return usageError(
        wrongCommandLine("--follow needs the set log (.jsonl) or the playlist beside it"));
  }
  std::vector<Target> targets;
  if (const auto status = chooseTargets(options, &targets)) return *status;
  // The set is read before anything is written beside it.
  std::vector<Listen> listens;
  Unsendable unsendable;
  if (!following) {
    if (const auto status = readSet(options, &listens, &unsendable)) return *status;
  }
  SentFile sentFile(sentFileBeside(options.set));
  if (const platform::Status loaded = sentFile.load(); !loaded) {
    return failed(loaded.error());
  }
  if (!options.dryRun) {
    if (const platform::Status writable = sentFile.checkWritable(); !writable) {
      return failed(writable.error());
    }
  }
  platform::installStopHandler();
  Scrobbler scrobbler(options, std::move(targets), &sentFile);
  if (following) return follow(options, &scrobbler);

  unsendable.note(options.set);
  if (options.dryRun) {
    for (Target& target : scrobbler.targets()) scrobbler.show(target, listens);
    return kStatusOk;
  }
  for (Target& target : scrobbler.targets()) {
    scrobbler.send(target, listens);
    if (platform::stopRequested()) break;
  }
  return summary(scrobbler.targets(), platform::stopRequested());
}
