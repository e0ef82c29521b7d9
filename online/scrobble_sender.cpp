#include "online/scrobble_sender.h"

#include <algorithm>
#include <ctime>
#include <iostream>

#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/report.h"

bool fileExists(const std::string& path) { return platform::fileModificationTime(path).ok(); }

platform::Status SentFile::load() {
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

platform::Status SentFile::checkWritable() {
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

platform::Status SentFile::record(const std::string& account, std::span<const Listen> listens) {
  std::string text;
  if (isNew_) text = "# The tracks of this set that each account accepted (setlist scrobble)\n";
  if (!known_.endsInLineEnd) text += '\n';
  for (const Listen& listen : listens) {
    text += formatSentLine(account, listen);
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
  for (const Listen& listen : listens) known_.accepted.emplace(account, listen);
  return {};
}

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

namespace {

bool isTooOld(const Target& target, const Listen& listen) {
  const std::int64_t oldest = target.service->oldestSeconds;
  return oldest > 0 && listen.at < static_cast<std::int64_t>(std::time(nullptr)) - oldest;
}

std::span<const Listen> batchOf(const Target& target, const std::vector<Listen>& todo,
                                std::size_t first) {
  return std::span<const Listen>(todo).subspan(
      first, std::min(target.service->batch, todo.size() - first));
}

// Nothing more goes to the target; a verdict with a message is told.
bool refused(Target& target, const Verdict& verdict) {
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

}  // namespace

bool Scrobbler::anyStopped() const {
  return std::any_of(targets_.begin(), targets_.end(),
                     [](const Target& target) { return target.stopped; });
}

std::vector<Listen> Scrobbler::pending(Target& target, const std::vector<Listen>& listens,
                                       std::size_t* before) {
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

void Scrobbler::summary(const std::vector<Listen>& listens) {
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

void Scrobbler::show(Target& target, const std::vector<Listen>& listens) {
  std::size_t before = 0;
  const std::vector<Listen> todo = pending(target, listens, &before);
  std::cout << "# " << target.account.name << " (" << target.service->title << "): " << todo.size()
            << " tracks to send, " << before << " sent before\n";
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

bool Scrobbler::send(Target& target, const std::vector<Listen>& listens, const StopSignal& stop) {
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

// Sends one request until the service takes it (*taken: how many listens it held);
// false when the target refused, gave up or a stop came.
bool Scrobbler::sendOne(Target& target, std::span<const Listen> batch, std::size_t* taken,
                        const StopSignal& stop) {
  platform::HttpRequest request;
  std::string shown;
  *taken = target.service->request(target.account, batch, &request, &shown);
  Backoff backoff(BackoffPolicy{.never = follow_});
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

bool Scrobbler::accept(Target& target, std::span<const Listen> listens, const Verdict& verdict) {
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
