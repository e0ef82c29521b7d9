#include "online/request.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

#include "platform/platform.h"

#ifndef ZV_VERSION
#define ZV_VERSION "unknown"
#endif

std::string userAgent() { return "Zorvanthelix-setlist/" ZV_VERSION; }

// ---- Stopping and waiting --------------------------------------------------------------

void StopSignal::request() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  woken_.notify_all();
}

bool StopSignal::requested() const { return requested_ || platform::stopRequested(); }

bool StopSignal::waitFor(std::chrono::milliseconds most) const {
  // A stop of the process comes from a signal handler, which cannot wake the condition:
  // it is looked at every 50 ms.
  constexpr std::chrono::milliseconds kSlice(50);
  const auto end = std::chrono::steady_clock::now() + most;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!requested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return false;
    woken_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(end - now, kSlice));
  }
  return true;
}

std::chrono::milliseconds paced(std::chrono::milliseconds length) {
  static const double pace = [] {
    const char* given = std::getenv("ZV_TEST_PACE");
    const double wanted = given != nullptr ? std::atof(given) : 1.0;
    return wanted >= 0.001 && wanted <= 1.0 ? wanted : 1.0;
  }();
  return std::chrono::duration_cast<std::chrono::milliseconds>(length * pace);
}

namespace {

class SystemClock : public Clock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  std::int64_t unixSeconds() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  bool waitUntil(TimePoint when, const StopSignal& stop) override {
    while (!stop.requested()) {
      const auto left = when - now();
      if (left <= TimePoint::duration::zero()) return true;
      stop.waitFor(std::chrono::ceil<std::chrono::milliseconds>(left));
    }
    return false;
  }
  TimePoint after(std::chrono::milliseconds length) override { return now() + paced(length); }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

// ---- The back-off ----------------------------------------------------------------------

Seconds Backoff::failed(std::optional<Seconds> serverWait) {
  ++failures_;
  if (serverWait) return *serverWait;
  if (policy_.never && failures_ >= policy_.tries) return policy_.patient;
  Seconds wait = policy_.first;
  for (int i = 1; i < failures_ && wait < policy_.most; ++i) wait *= 2;
  return std::min(wait, policy_.most);
}

// ---- Verdicts --------------------------------------------------------------------------

std::string bodyExcerpt(std::string_view body) {
  std::string excerpt(body.substr(0, std::min<std::size_t>(body.find('\n'), 200)));
  for (char& c : excerpt) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return excerpt.empty() ? "an empty answer" : excerpt;
}

namespace {

std::optional<std::int64_t> wholeNumber(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// Seconds since 1970 of an HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT".
std::optional<std::int64_t> httpDate(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() != 29 || text.substr(3, 2) != ", " || !text.ends_with(" GMT")) return {};
  const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(8, 3));
  const auto day = wholeNumber(text.substr(5, 2));
  const auto year = wholeNumber(text.substr(12, 4));
  const auto hour = wholeNumber(text.substr(17, 2));
  const auto minute = wholeNumber(text.substr(20, 2));
  const auto second = wholeNumber(text.substr(23, 2));
  if (month == kMonths.end() || !day || !year || !hour || !minute || !second) return {};
  const std::chrono::year_month_day date{
      std::chrono::year(static_cast<int>(*year)),
      std::chrono::month(static_cast<unsigned>(month - kMonths.begin() + 1)),
      std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) return {};
  const auto days = std::chrono::sys_days(date).time_since_epoch().count();
  return std::int64_t{days} * 86400 + *hour * 3600 + *minute * 60 + *second;
}

// A wait from 0 to an hour: a server asking for more is waited on for an hour.
Seconds boundedWait(std::int64_t seconds) {
  return Seconds(std::clamp<std::int64_t>(seconds, 0, 3600));
}

}  // namespace

std::optional<Seconds> serverWait(const platform::HttpResponse& response, std::int64_t nowUnix) {
  if (const std::string retryAfter = response.header("Retry-After"); !retryAfter.empty()) {
    if (const auto seconds = wholeNumber(retryAfter)) return boundedWait(*seconds);
    if (const auto date = httpDate(retryAfter)) return boundedWait(*date - nowUnix);
  }
  if (response.status == 429 || response.header("X-RateLimit-Remaining") == "0") {
    if (const auto seconds = wholeNumber(response.header("X-RateLimit-Reset-In"))) {
      return boundedWait(*seconds);
    }
  }
  return std::nullopt;
}

Verdict judgeAnswer(const platform::Expected<platform::HttpResponse>& answer, Judge judge,
                    std::string_view url, std::int64_t nowUnix) {
  Verdict verdict;
  if (!answer) {
    // No connection, a timeout: tried again.
    verdict.outcome = Outcome::kRetry;
    verdict.message = platform::urlSubject(url) + ": " + answer.error().text;
    return verdict;
  }
  const platform::HttpResponse& response = *answer;
  const std::string location = response.header("Location");
  if (response.status >= 300 && response.status < 400 && !location.empty()) {
    verdict.message = platform::urlSubject(url) + " sends the request on to " +
                      platform::urlSubject(location) + ": give the service's API root with --url";
    return verdict;
  }
  auto json = parseJson(response.body);
  const bool object = json && json->kind() == JsonValue::Kind::kObject;
  verdict = judge({response, object ? &*json : nullptr});
  if (verdict.message.empty() && verdict.outcome != Outcome::kDone) {
    verdict.message = platform::urlSubject(url) + " answered HTTP " +
                      std::to_string(response.status) + ": " + bodyExcerpt(response.body);
  }
  if (const auto wait = serverWait(response, nowUnix)) verdict.wait = wait;
  if (object) verdict.json = std::move(*json);
  verdict.headers = response.headers;
  return verdict;
}

std::optional<platform::Expected<platform::HttpResponse>> sendUnlessStopped(
    const platform::HttpRequest& request, const StopSignal& stop) {
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
    if (stop.requested()) return std::nullopt;
    exchange->done.wait_for(lock, std::chrono::milliseconds(50));
  }
  return std::move(exchange->answer);
}

Verdict exchange(const platform::HttpRequest& request, Judge judge, Clock& clock,
                 const StopSignal& stop) {
  auto answer = sendUnlessStopped(request, stop);
  if (!answer) {
    Verdict stopped;
    stopped.outcome = Outcome::kStopped;
    stopped.message = "stopped";
    return stopped;
  }
  return judgeAnswer(*answer, judge, request.url, clock.unixSeconds());
}
