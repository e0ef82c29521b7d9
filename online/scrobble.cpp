// setlist scrobble: sends every played track of a set to ListenBrainz and Last.fm
// accounts. What each account accepted is appended to the sent file beside the set and
// synced after each accepted request, so a run that ends at any moment loses nothing and
// sends again at most the one request that was in flight.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "online/commands.h"
#include "online/online.h"
#include "online/scrobbling.h"
#include "online/worker.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/set_reader.h"

namespace {

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
      for (std::size_t start = 0; start <= value.size();) {
        const std::size_t comma = std::min(value.find(',', start), value.size());
        if (comma > start) options->to.push_back(value.substr(start, comma - start));
        start = comma + 1;
      }
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

platform::Expected<std::string> readWhole(const std::string& path) {
  platform::InputFile file;
  platform::Error err;
  if (!file.open(path, &err)) return err;
  std::string text;
  char buffer[65536];
  std::ptrdiff_t count = 0;
  while ((count = file.read(buffer, sizeof buffer, &err)) > 0) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  if (count < 0) return err;
  return text;
}

bool fileExists(const std::string& path) {
  std::time_t mtime = 0;
  return platform::fileModificationTime(path, &mtime, nullptr);
}

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
    auto contents = readWhole(path_);
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
    if (platform::openForAppend(path_, &file, &err) != platform::OpenResult::kOpened ||
        !platform::syncAndClose(file, &err)) {
      return platform::makeError(path_, "cannot record the sent tracks: " + err.text);
    }
    return {};
  }

  // Appends the listens an account accepted and brings them to stable storage.
  platform::Status record(const std::string& account, std::span<const Listen> listens) {
    std::string text;
    if (isNew_) text = "# The tracks of this set that each account accepted (setlist scrobble)\n";
    if (!known_.endsInLineEnd) text += '\n';
    for (const Listen& listen : listens) {
      text += formatSentLine(account, listen);
      text += '\n';
    }
    platform::File file;
    platform::Error err;
    if (platform::openForAppend(path_, &file, &err) != platform::OpenResult::kOpened ||
        !platform::appendAll(file, text, &err) || !platform::syncAndClose(file, &err)) {
      if (file.handle) platform::syncAndClose(file, nullptr);
      return platform::makeError(path_, "cannot record the sent tracks: " + err.text);
    }
    isNew_ = false;
    known_.endsInLineEnd = true;
    for (const Listen& listen : listens) known_.accepted.emplace(account, listen);
    return {};
  }

 private:
  std::string path_;
  SentListens known_;
  bool isNew_ = true;
};

// The services that take scrobbles. ListenBrainz takes a request a second; Last.fm counts
// more than five a second as abuse and drops scrobbles older than 14 days.
constexpr ScrobbleService kScrobbleServices[] = {
    {"listenbrainz", "ListenBrainz", std::chrono::milliseconds(1000), kListenBrainzMostListens, 0,
     listenBrainzRequest, judgeListenBrainz},
    {"lastfm", "Last.fm", std::chrono::milliseconds(250), kLastfmMostScrobbles,
     kLastfmOldestSeconds, lastfmRequest, judgeLastfm},
};

const ScrobbleService* findScrobbleService(std::string_view name) {
  for (const ScrobbleService& service : kScrobbleServices) {
    if (service.name == name) return &service;
  }
  return nullptr;
}

// One account to send to, and how far it got. Under --follow only its own sender
// touches it until the sender ends.
struct Target {
  Account account;
  const ScrobbleService* service = nullptr;
  std::size_t sent = 0;     // accepted in this run
  bool stopped = false;     // it refused, or gave up: nothing more goes to it
  TimePoint nextRequest{};  // the service's spacing, or as the server asked
  bool tooOldNoted = false;
};

class Scrobbler {
 public:
  Scrobbler(const Options& options, std::vector<Target> targets, SentFile* sentFile)
      : options_(options), targets_(std::move(targets)), sent_(sentFile) {}

  std::vector<Target>& targets() { return targets_; }
  bool anyStopped() const {
    return std::any_of(targets_.begin(), targets_.end(),
                       [](const Target& target) { return target.stopped; });
  }

  // The listens of the set that `target` has not accepted yet. Listens the service would
  // drop as too old are left out, with a note the first time.
  // *before: how many it accepted before.
  std::vector<Listen> pending(Target& target, const std::vector<Listen>& listens,
                              std::size_t* before = nullptr) {
    std::vector<Listen> result;
    std::size_t tooOld = 0, accepted = 0;
    const std::lock_guard<std::mutex> lock(sentMutex_);
    for (const Listen& listen : listens) {
      if (sent_->known().has(target.account.name, listen)) {
        ++accepted;
      } else if (isTooOld(target, listen)) {
        ++tooOld;
      } else {
        result.push_back(listen);
      }
    }
    if (tooOld > 0 && !target.tooOldNoted) {
      platform::reportWarning(platform::makeError(
          target.account.name, std::to_string(tooOld) + " tracks are older than " +
                                   std::to_string(target.service->oldestSeconds / 86400) +
                                   " days and are not sent (" + std::string(target.service->title) +
                                   " drops them)"));
      target.tooOldNoted = true;
    }
    if (before != nullptr) *before = accepted;
    return result;
  }

  // "lb: 3 tracks sent, 2 sent before; 1 still wait (...)" for each account.
  void summary(const std::vector<Listen>& listens) {
    const std::lock_guard<std::mutex> lock(sentMutex_);
    for (const Target& target : targets_) {
      std::size_t accepted = 0, waiting = 0;
      for (const Listen& listen : listens) {
        if (sent_->known().has(target.account.name, listen)) {
          ++accepted;
        } else if (!isTooOld(target, listen)) {
          ++waiting;
        }
      }
      std::cout << target.account.name << ": " << target.sent << " tracks sent, "
                << accepted - std::min(accepted, target.sent) << " sent before";
      if (waiting > 0) std::cout << "; " << waiting << " still wait (they go out on the next run)";
      std::cout << "\n";
    }
  }

  // Prints the requests a run would send to the target.
  void show(Target& target, const std::vector<Listen>& listens) {
    std::size_t before = 0;
    const std::vector<Listen> todo = pending(target, listens, &before);
    std::cout << "# " << target.account.name << " (" << target.service->title
              << "): " << todo.size() << " tracks to send, " << before << " sent before\n";
    platform::HttpRequest request;
    std::string shown;
    for (std::size_t first = 0, number = 1; first < todo.size(); ++number) {
      const std::size_t count =
          target.service->request(target.account, batchOf(target, todo, first), &request, &shown);
      std::cout << "## request " << number << ": " << request.method << " " << request.url << ", "
                << count << " tracks\n"
                << shown << (shown.ends_with('\n') ? "" : "\n");
      first += count;
    }
  }

  // Sends what the target still lacks of the listens. False when it stopped: it refused,
  // gave up after its tries, or a stop came.
  bool send(Target& target, const std::vector<Listen>& listens, const StopSignal& stop) {
    if (target.stopped) return false;
    const std::vector<Listen> todo = pending(target, listens);
    for (std::size_t first = 0, taken = 0; first < todo.size(); first += taken) {
      if (!sendOne(target, batchOf(target, todo, first), &taken, stop)) return false;
      platform::reportCount(target.account.name + ": " + std::to_string(first + taken) + " of " +
                                std::to_string(todo.size()) + " tracks sent",
                            first + taken == todo.size());
    }
    return true;
  }

 private:
  static bool isTooOld(const Target& target, const Listen& listen) {
    const std::int64_t oldest = target.service->oldestSeconds;
    return oldest > 0 && listen.at < static_cast<std::int64_t>(std::time(nullptr)) - oldest;
  }

  static std::span<const Listen> batchOf(const Target& target, const std::vector<Listen>& todo,
                                         std::size_t first) {
    return std::span<const Listen>(todo).subspan(
        first, std::min(target.service->batch, todo.size() - first));
  }

  // Sends one request until the service takes it (*taken: how many listens it held);
  // false when the target refused, gave up or a stop came.
  bool sendOne(Target& target, std::span<const Listen> batch, std::size_t* taken,
               const StopSignal& stop) {
    platform::HttpRequest request;
    std::string shown;
    *taken = target.service->request(target.account, batch, &request, &shown);
    Backoff backoff(BackoffPolicy{.never = options_.follow});
    while (clock_.waitUntil(target.nextRequest, stop)) {
      const Verdict verdict = exchange(request, target.service->judge, clock_, stop);
      target.nextRequest = clock_.after(target.service->spacing);
      if (verdict.outcome == Outcome::kDone) {
        if (verdict.wait) target.nextRequest = clock_.after(*verdict.wait);
        return accept(target, batch.first(*taken), verdict);
      }
      if (verdict.outcome == Outcome::kStopped) return false;
      if (verdict.outcome != Outcome::kRetry) return refused(target, verdict);
      const Seconds delay = backoff.failed(verdict.wait);
      if (backoff.givenUp()) {
        platform::reportError(platform::makeError(
            target.account.name,
            verdict.message + " (tried " + std::to_string(backoff.failures()) + " times)"));
        return refused(target, {});
      }
      platform::reportWarning(platform::makeError(
          target.account.name,
          verdict.message + "; trying again in " + std::to_string(delay.count()) + " s"));
      target.nextRequest = clock_.after(delay);
    }
    return false;
  }

  bool accept(Target& target, std::span<const Listen> listens, const Verdict& verdict) {
    for (const std::string& ignored : verdict.ignored) {
      platform::reportWarning(platform::makeError(
          target.account.name, std::string(target.service->title) + " ignored " + ignored));
    }
    const std::lock_guard<std::mutex> lock(sentMutex_);
    if (const platform::Status recorded = sent_->record(target.account.name, listens); !recorded) {
      platform::reportError(recorded.error());
      target.stopped = true;
      return false;
    }
    target.sent += listens.size();
    return true;
  }

  // Nothing more goes to the target; a verdict with a message is told.
  static bool refused(Target& target, const Verdict& verdict) {
    target.stopped = true;
    const std::string& name = target.account.name;
    if (verdict.outcome == Outcome::kLoginAgain) {
      platform::reportError(
          platform::makeError(name, verdict.message + ": log in again: setlist login " +
                                        target.account.service + " --name " + name));
    } else if (!verdict.message.empty()) {
      platform::reportError(
          platform::makeError(name, "the server refused the tracks: " + verdict.message));
    }
    return false;
  }

  const Options& options_;
  std::vector<Target> targets_;
  SentFile* sent_;
  std::mutex sentMutex_;  // the sent file, which every account's sender writes
  Clock& clock_ = systemClock();
};

// The accounts to send to: those named by --to, else every scrobbling account.
platform::Expected<std::vector<Target>> chooseTargets(const Options& options) {
  const auto accounts = loadAccounts(options.accountsPath);
  if (!accounts) return accounts.error();
  for (const Account& account : *accounts) {
    // The sent file holds the name as it is: one it could not hold would be sent again.
    if (!isAccountName(account.name)) {
      return platform::makeError(options.accountsPath,
                                 "the account name '" + account.name + "' is not one login gives");
    }
  }
  std::vector<Target> targets;
  if (options.to.empty()) {
    for (const Account& account : *accounts) {
      if (const auto* service = findScrobbleService(account.service)) {
        targets.push_back({account, service});
      }
    }
    if (targets.empty()) {
      return platform::makeError(options.accountsPath,
                                 "no account to scrobble to: log in first with setlist login "
                                 "listenbrainz or setlist login lastfm");
    }
    return targets;
  }
  for (const std::string& name : options.to) {
    const Account* account = findAccount(*accounts, name);
    if (!account) {
      return platform::makeError(options.accountsPath,
                                 "no account named '" + name + "' (see setlist accounts)");
    }
    const auto* service = findScrobbleService(account->service);
    if (!service) {
      return platform::makeError(
          options.accountsPath,
          "account '" + name + "' is for " + account->service + ", which takes no scrobbles");
    }
    targets.push_back({*account, service});
  }
  return targets;
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
platform::Status readSet(const Options& options, std::vector<Listen>* listens,
                         Unsendable* unsendable) {
  SetReader set;
  if (const platform::Status opened = set.open(options.set, false, false); !opened) return opened;
  std::size_t records = 0;
  const platform::Status read = set.read([&](const Record& record) {
    ++records;
    if (const auto listen = listenOf(record)) {
      listens->push_back(*listen);
    } else {
      unsendable->add(record);
    }
    return true;
  });
  if (!read) return read;
  if (records == 0 && !set.stopped()) {
    return platform::makeError(options.set, "holds no tracks: there is nothing to scrobble");
  }
  return {};
}

// The listens read so far under --follow, which each account's sender takes from.
class Arrivals {
 public:
  void add(Listen listen) {
    const std::lock_guard<std::mutex> lock(mutex_);
    listens_.push_back(std::move(listen));
  }
  std::vector<Listen> copy() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return listens_;
  }

 private:
  std::mutex mutex_;
  std::vector<Listen> listens_;
};

// The set log under --follow: the complete lines added since the last read.
class SetLogFollower {
 public:
  explicit SetLogFollower(std::string path) : path_(std::move(path)) {}
  ~SetLogFollower() {
    if (badLines_ == 0) return;
    platform::reportWarning(
        platform::makeError(path_, std::to_string(badLines_) + " lines are not records"));
  }

  void readNew(Arrivals* arrivals) {
    if (!fileExists(path_)) {
      if (!waitNoted_) platform::reportNote(path_ + ": not there yet; waiting for it");
      waitNoted_ = true;
      return;
    }
    auto contents = readWhole(path_);
    if (!contents) {
      if (!reported_) platform::reportWarning(platform::makeError(path_, contents.error().text));
      reported_ = true;
      return;
    }
    if (contents->size() < offset_) offset_ = 0;  // replaced: read it anew
    for (std::size_t end; (end = contents->find('\n', offset_)) != std::string::npos;
         offset_ = end + 1) {
      take(std::string_view(*contents).substr(offset_, end - offset_), arrivals);
    }
  }

 private:
  void take(std::string_view text, Arrivals* arrivals) {
    SetLogLine line;
    if (!parseSetLogLine(text, &line)) {
      ++badLines_;
      return;
    }
    Record record;
    record.time = line.time.local;
    record.deck = line.deck;
    record.track = line.track;
    record.utcOffset = line.time.utcOffset;
    record.loaded = line.loaded;
    if (const auto listen = listenOf(record)) {
      arrivals->add(*listen);
    } else {
      Unsendable one;
      one.add(record);
      one.note(path_);
    }
  }

  std::string path_;
  std::size_t offset_ = 0;
  std::size_t badLines_ = 0;
  bool reported_ = false;
  bool waitNoted_ = false;
};

// An account's sender under --follow: sends each listen as it arrives, by itself, so an
// account that is down holds back no other.
void sendArrivals(Scrobbler* scrobbler, Target* target, Arrivals* arrivals,
                  const StopSignal& stop) {
  std::size_t seen = 0;
  while (!target->stopped && !stop.requested()) {
    const std::vector<Listen> listens = arrivals->copy();
    if (listens.size() == seen) {
      stop.waitFor(std::chrono::milliseconds(250));
      continue;
    }
    seen = listens.size();
    scrobbler->send(*target, listens, stop);
  }
}

// --follow: the set log, read again every second; each complete new line is sent.
int follow(const Options& options, Scrobbler* scrobbler) {
  Arrivals arrivals;
  std::vector<Worker> senders;
  for (Target& target : scrobbler->targets()) {
    senders.emplace_back([scrobbler, &target, &arrivals](const StopSignal& stop) {
      sendArrivals(scrobbler, &target, &arrivals, stop);
    });
  }
  {
    SetLogFollower log(options.set.ends_with(".jsonl") ? options.set : setLogFileName(options.set));
    const auto sending = [&senders] {
      return std::any_of(senders.begin(), senders.end(),
                         [](const Worker& sender) { return !sender.finished(); });
    };
    while (!platform::stopRequested() && sending()) {
      log.readNew(&arrivals);
      platform::sleepMilliseconds(1000);
    }
  }
  for (Worker& sender : senders) sender.requestStop();
  for (Worker& sender : senders) sender.waitFinished(std::chrono::seconds(10));
  scrobbler->summary(arrivals.copy());
  return scrobbler->anyStopped() ? kStatusFailed : kStatusOk;
}

// Sends the whole set to each account in turn, or shows what would be sent.
int sendSet(const Options& options, const std::vector<Listen>& listens,
            const Unsendable& unsendable, Scrobbler* scrobbler) {
  unsendable.note(options.set);
  if (options.dryRun) {
    for (Target& target : scrobbler->targets()) scrobbler->show(target, listens);
    return kStatusOk;
  }
  const StopSignal stop;  // the process's stop (Ctrl-C) alone
  for (Target& target : scrobbler->targets()) {
    scrobbler->send(target, listens, stop);
    if (platform::stopRequested()) break;
  }
  scrobbler->summary(listens);
  if (platform::stopRequested()) return kStatusStopped;
  return scrobbler->anyStopped() ? kStatusFailed : kStatusOk;
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
  auto targets = chooseTargets(options);
  if (!targets) return failed(targets.error());
  // The set is read before anything is written beside it.
  std::vector<Listen> listens;
  Unsendable unsendable;
  if (!following) {
    if (const platform::Status read = readSet(options, &listens, &unsendable); !read) {
      return failed(read.error());
    }
    if (platform::stopRequested()) return kStatusStopped;
  }
  SentFile sentFile(sentFileBeside(options.set));
  if (const platform::Status loaded = sentFile.load(); !loaded) return failed(loaded.error());
  if (!options.dryRun) {
    if (const platform::Status writable = sentFile.checkWritable(); !writable) {
      return failed(writable.error());
    }
  }
  platform::installStopHandler();
  Scrobbler scrobbler(options, std::move(*targets), &sentFile);
  if (following) return follow(options, &scrobbler);
  return sendSet(options, listens, unsendable, &scrobbler);
}
