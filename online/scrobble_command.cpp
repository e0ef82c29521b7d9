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
#include "cli/options.h"
#include "online/commands.h"
#include "online/online.h"
#include "online/scrobble_sender.h"
#include "online/scrobbling.h"
#include "online/worker.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/set_reader.h"
#include "publish/title_clean.h"
#include "setfile/clock.h"

namespace {

struct Options {
  std::string set;
  std::vector<std::string> to;
  std::string accountsPath;
  bool follow = false;
  bool dryRun = false;
  TitleCleaning cleaning;  // the texts sent, with --clean
};

// The options of the command line, read by the option table.
Options optionsOf(const Arguments& arguments) {
  Options options;
  options.set = arguments.operands().front();
  options.to = arguments.values("--to");
  options.accountsPath = accountsFile(arguments.text("--accounts"));
  options.follow = arguments.given("--follow");
  options.dryRun = arguments.given("--dry-run");
  options.cleaning = TitleCleaning(arguments);
  return options;
}

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
      std::string clock;
      appendTimeOfDay(record.time, &clock);
      names += (count > 1 ? ", " : "") + clock + " " + deckLetter(record.deck) + " \"" +
               record.track.artist + " - " + record.track.song + "\"";
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
    if (const auto listen = listenOf(options.cleaning.record(record))) {
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
  SetLogFollower(std::string path, TitleCleaning cleaning)
      : path_(std::move(path)), cleaning_(std::move(cleaning)) {}
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
    auto contents = platform::readWholeFile(path_);
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
    if (const auto listen = listenOf(cleaning_.record(record))) {
      arrivals->add(*listen);
    } else {
      Unsendable one;
      one.add(record);
      one.note(path_);
    }
  }

  std::string path_;
  TitleCleaning cleaning_;
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
    SetLogFollower log(options.set.ends_with(".jsonl") ? options.set : setLogFileName(options.set),
                       options.cleaning);
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
  const Arguments arguments = readCommandLine("scrobble", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const Options options = optionsOf(arguments);
  const bool following = options.follow && !options.dryRun;
  if (following && !options.set.ends_with(".jsonl") && setLogFileName(options.set).empty()) {
    return usageError(
        wrongCommandLine("--follow needs the set log (.jsonl) or the playlist beside it"),
        "scrobble");
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
  Scrobbler scrobbler(options.follow, std::move(*targets), &sentFile, systemClock());
  if (following) return follow(options, &scrobbler);
  return sendSet(options, listens, unsendable, &scrobbler);
}
