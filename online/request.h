// One shape for a request to a web service: send it, read the JSON answer, let the
// service's judge pull its own words out, and come back with one verdict. Also the one
// back-off and the one clock every waiting caller uses, so that a stop ends any wait at
// once and tests drive time by hand instead of sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/json.h"
#include "platform/error.h"
#include "platform/web_client.h"

using Seconds = std::chrono::seconds;
using TimePoint = std::chrono::steady_clock::time_point;

// ---- Stopping and waiting --------------------------------------------------------------

// What ends a wait early: a stop of the whole process (Ctrl-C, see platform.h) or a stop
// of one worker. Any thread may request it.
class StopSignal {
 public:
  void request();
  bool requested() const;
  // Waits up to `most`; true when a stop was requested (seen within 50 ms).
  bool waitFor(std::chrono::milliseconds most) const;

 private:
  std::atomic<bool> requested_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable woken_;
};

// Where time comes from. The system clock reads ZV_TEST_PACE, a fraction from 0.001 to 1
// that shortens every wait for the tests' mock servers (the order and number of requests
// stay the same); tests in the process use a clock they move by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() = 0;
  // Seconds since 1970 UTC, to read a date a server sends.
  virtual std::int64_t unixSeconds() = 0;
  // Waits until `when`; false when a stop came first, at once and not at `when`.
  virtual bool waitUntil(TimePoint when, const StopSignal& stop) = 0;
  // The moment a wait of `length` that begins now ends.
  virtual TimePoint after(std::chrono::milliseconds length) = 0;
};
Clock& systemClock();
// A length as the system clock waits it: shortened by ZV_TEST_PACE. The tests' one speed
// knob, also for the time-outs of the live server.
std::chrono::milliseconds paced(std::chrono::milliseconds length);

// ---- The back-off ----------------------------------------------------------------------

struct BackoffPolicy {
  Seconds first{1};    // the wait after the first failure, doubled after each next one
  Seconds most{8};     // up to this
  int tries = 5;       // failed tries before giving up
  bool never = false;  // never give up: after `tries` it waits `patient` each time
  Seconds patient{60};
};

// Counts the failed tries of one thing and says how long to wait before the next.
class Backoff {
 public:
  explicit Backoff(BackoffPolicy policy = {}) : policy_(policy) {}
  // Counts a failure; the wait before the next try. A wait the server asked for wins.
  Seconds failed(std::optional<Seconds> serverWait = std::nullopt);
  // Whether the tries are spent (never with `never`).
  bool givenUp() const { return !policy_.never && failures_ >= policy_.tries; }
  void succeeded() { failures_ = 0; }
  int failures() const { return failures_; }

 private:
  BackoffPolicy policy_;
  int failures_ = 0;
};

// ---- Verdicts --------------------------------------------------------------------------

enum class Outcome {
  kDone,        // the service did what was asked
  kRetry,       // try the same request again later
  kLoginAgain,  // the token or session is no longer valid
  kRefused,     // any other refusal: the message says why, in the service's words
  kStopped,     // a stop came before the answer: nothing is known of it
};

struct Verdict {
  Outcome outcome = Outcome::kRefused;
  std::string message;                    // the service's own words, or the failure's
  std::optional<Seconds> wait;            // a wait the server asked for before the next request
  std::vector<std::string> ignored;       // Last.fm: "Artist - Song: reason" of each ignored one
  JsonValue json;                         // the answer's JSON, for the caller to read when done
  std::vector<platform::Header> headers;  // the answer's, for a caller that paces itself by them
};

// What a judge is given: the answer, and its JSON object when the body is one (else null).
struct Answer {
  const platform::HttpResponse& response;
  const JsonValue* json;
};

// A service's reading of its own answers: done, or why not. The helper adds the waits
// the server asked for, a redirect, and a no-answer.
using Judge = Verdict (*)(const Answer& answer);

// The first line of a body, shortened, for a message ("an empty answer" when empty).
std::string bodyExcerpt(std::string_view body);

// The wait a server asked for: Retry-After (seconds, or an HTTP date against `nowUnix`),
// else X-RateLimit-Reset-In when the answer is a 429 or no requests remain.
std::optional<Seconds> serverWait(const platform::HttpResponse& response, std::int64_t nowUnix);

// The verdict on an answer (or on the failure to get one) for the request to `url`.
Verdict judgeAnswer(const platform::Expected<platform::HttpResponse>& answer, Judge judge,
                    std::string_view url, std::int64_t nowUnix);

// "Zorvanthelix-setlist/<version>": the User-Agent of every HTTP request to a service (the
// chat's WebSocket aside), so that a service can tell setlist's requests apart.
std::string userAgent();

// Sends the request on a thread of its own and waits for its answer; nothing when a stop came
// first (the request is then left in flight). For answers that are not JSON (an image).
std::optional<platform::Expected<platform::HttpResponse>> sendUnlessStopped(
    const platform::HttpRequest& request, const StopSignal& stop);

// Sends the request (on a thread of its own, so that a stop ends the wait at once; the
// request is then left in flight) and judges the answer.
Verdict exchange(const platform::HttpRequest& request, Judge judge, Clock& clock,
                 const StopSignal& stop);
