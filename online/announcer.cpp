#include "online/announcer.h"

#include <mutex>
#include <optional>
#include <utility>

#include "platform/report.h"
#include "setfile/text.h"

namespace {

// A service that fails for long is tried again at most once a minute.
constexpr BackoffPolicy kAnnounceBackoff{
    .first = Seconds(1), .most = Seconds(60), .tries = 7, .never = true, .patient = Seconds(60)};
// How often the thread looks for a new text.
constexpr std::chrono::milliseconds kLookEvery{100};

}  // namespace

struct Announcer::Shared {
  std::string service;
  Send send;
  std::string gone;
  Clock* clock = nullptr;
  std::mutex mutex;
  std::optional<std::string> newest;

  std::optional<std::string> take() {
    const std::lock_guard<std::mutex> lock(mutex);
    std::optional<std::string> text;
    text.swap(newest);
    return text;
  }

  // Keeps a text that failed, unless a newer one came meanwhile.
  void keep(std::string text) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!newest) newest = std::move(text);
  }

  void tell(const std::string& message) {
    platform::reportError(printableText(service + ": " + message));
  }

  void run(const StopSignal& stop) {
    Backoff backoff(kAnnounceBackoff);
    while (!stop.requested()) {
      std::optional<std::string> text = take();
      if (!text) {
        stop.waitFor(kLookEvery);
        continue;
      }
      const Verdict verdict = send(*text, stop);
      if (verdict.outcome == Outcome::kDone) {
        if (backoff.failures() > 0) tell("announced again");
        backoff.succeeded();
      } else if (verdict.outcome == Outcome::kLoginAgain) {
        tell(gone);
        return;
      } else if (verdict.outcome == Outcome::kRefused) {
        tell("the announcement was refused: " + verdict.message);
      } else if (verdict.outcome == Outcome::kRetry) {
        const Seconds wait = backoff.failed(verdict.wait);
        tell(verdict.message + "; trying again in " + std::to_string(wait.count()) + " s");
        keep(std::move(*text));
        if (!clock->waitUntil(clock->after(wait), stop)) return;
      }
    }
  }
};

namespace {

std::shared_ptr<Announcer::Shared> newShared(std::string service, Announcer::Send send,
                                             std::string gone, Clock& clock) {
  auto shared = std::make_shared<Announcer::Shared>();
  shared->service = std::move(service);
  shared->send = std::move(send);
  shared->gone = std::move(gone);
  shared->clock = &clock;
  return shared;
}

}  // namespace

Announcer::Announcer(std::string service, Send send, std::string gone, Clock& clock)
    : shared_(newShared(std::move(service), std::move(send), std::move(gone), clock)),
      worker_([shared = shared_](const StopSignal& stop) { shared->run(stop); }) {}

void Announcer::announce(std::string text) {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->newest = std::move(text);
}
