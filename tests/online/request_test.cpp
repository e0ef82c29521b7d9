#include "online/request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "online/oauth.h"
#include "online/online.h"
#include "tests/online/fake_clock.h"

namespace {

platform::Expected<platform::HttpResponse> answer(int status, std::string body,
                                                  std::vector<platform::Header> headers = {}) {
  platform::HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  response.headers = std::move(headers);
  return response;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", the time the answers below are judged at.
constexpr std::int64_t kNow = 784111777;
constexpr int kNoWait = -1;

TEST(Request, EachAnswerHasOneVerdict) {
  struct Case {
    Judge judge;
    platform::Expected<platform::HttpResponse> answer;
    Outcome outcome;
    int wait;
    std::string message;  // part of it
    std::size_t ignored = 0;
  };
  const Judge lb = judgeListenBrainz;
  const Judge fm = judgeLastfm;
  const Judge tk = judgeToken;
  const platform::Error down{111, "http://127.0.0.1:1", "Connection refused"};
  const std::vector<platform::Header> spent = {{"x-ratelimit-remaining", "0"},
                                               {"X-RateLimit-Reset-In", "7"}};
  const std::string ok = R"({"status":"ok"})";
  const Case cases[] = {
      {lb, answer(200, ok), Outcome::kDone, kNoWait, ""},
      {lb, answer(200, ok, spent), Outcome::kDone, 7, ""},
      {lb, down, Outcome::kRetry, kNoWait, "http://h/x: Connection refused"},
      {lb, answer(503, "<html>"), Outcome::kRetry, kNoWait, "http://h/x answered HTTP 503: <html>"},
      {lb, answer(429, "{}", spent), Outcome::kRetry, 7, ""},
      {lb, answer(429, "{}"), Outcome::kRetry, 10, ""},
      {lb, answer(401, R"({"code":401,"error":"Invalid authorization token."})"),
       Outcome::kLoginAgain, kNoWait, "Invalid authorization"},
      {lb, answer(400, R"({"code":400,"error":"JSON document may only contain 1000 listens"})"),
       Outcome::kRefused, kNoWait, "1000 listens"},
      // Only its own answer accepts: a page, a cut answer, another JSON are server faults.
      {lb, answer(200, "<html>Down for maintenance\n</html>"), Outcome::kRetry, kNoWait,
       "answered HTTP 200: <html>Down for maintenance"},
      {lb, answer(200, R"({"status":"o)"), Outcome::kRetry, kNoWait, "HTTP 200"},
      {lb, answer(200, R"({"status":"error"})"), Outcome::kRetry, kNoWait, "HTTP 200"},
      {lb, answer(200, ""), Outcome::kRetry, kNoWait, "an empty answer"},
      {lb, answer(404, "<html>Not Found"), Outcome::kRetry, kNoWait, "HTTP 404"},
      // Retry-After, in seconds or as a date, wins over X-RateLimit-Reset-In.
      {lb, answer(503, "", {{"Retry-After", "120"}}), Outcome::kRetry, 120, ""},
      {lb, answer(429, "{}", {{"retry-after", "Sun, 06 Nov 1994 08:50:07 GMT"}, spent[1]}),
       Outcome::kRetry, 30, ""},
      {lb, answer(429, "{}", {{"Retry-After", "soon"}, spent[1]}), Outcome::kRetry, 7, ""},
      {lb, answer(503, "", {{"Retry-After", "Sun, 06 Nov 1994 08:40:00 GMT"}}), Outcome::kRetry, 0,
       ""},
      {lb, answer(503, "", {{"Retry-After", "99999"}}), Outcome::kRetry, 3600, ""},
      {lb, answer(301, "", {{"Location", "https://example.org/api?k=1"}}), Outcome::kRefused,
       kNoWait, "on to https://example.org/api: give the service's API root with --url"},
      {fm, down, Outcome::kRetry, kNoWait, "refused"},
      {fm, answer(200, R"({"error":9,"message":"Invalid session key"})"), Outcome::kLoginAgain,
       kNoWait, "error 9: Invalid session key"},
      {fm, answer(403, R"({"error":4,"message":"x"})"), Outcome::kLoginAgain, kNoWait, ""},
      {fm, answer(400, R"({"error":10,"message":"x"})"), Outcome::kLoginAgain, kNoWait, ""},
      {fm, answer(403, R"({"error":26,"message":"x"})"), Outcome::kLoginAgain, kNoWait, ""},
      {fm, answer(403, R"({"error":13,"message":"Invalid method signature supplied"})"),
       Outcome::kLoginAgain, kNoWait, "the shared secret may be wrong"},
      {fm, answer(200, R"({"error":8,"message":"Operation failed"})"), Outcome::kRetry, kNoWait,
       "error 8: Operation failed"},
      {fm, answer(503, R"({"error":11,"message":"Service Offline"})"), Outcome::kRetry, kNoWait,
       ""},
      {fm, answer(500, R"({"error":16,"message":"x"})"), Outcome::kRetry, kNoWait, ""},
      {fm, answer(429, R"({"error":29,"message":"Rate limit"})", {{"Retry-After", "5"}}),
       Outcome::kRetry, 5, ""},
      {fm, answer(502, R"({"error":6,"message":"Invalid parameters"})"), Outcome::kRetry, kNoWait,
       "Invalid parameters"},
      {fm, answer(400, R"({"error":6,"message":"Invalid parameters"})"), Outcome::kRefused, kNoWait,
       "Invalid parameters"},
      {fm, answer(502, "Bad Gateway"), Outcome::kRetry, kNoWait, "Bad Gateway"},
      {fm, answer(200, "<lfm status=\"ok\">"), Outcome::kRetry, kNoWait, "HTTP 200"},
      {fm, answer(200, R"({"scrobbles":{"@attr":{"accepted":1,"ignored":1},"scrobble":[
         {"artist":{"#text":"A"},"track":{"#text":"B"},"ignoredMessage":{"code":"0","#text":""}},
         {"artist":{"#text":"C"},"track":{"#text":"D"},
          "ignoredMessage":{"code":"1","#text":"Artist was ignored"}}]}})"),
       Outcome::kDone, kNoWait, "", 1},
      {fm, answer(200, R"({"scrobbles":{"@attr":{"accepted":1,"ignored":0},"scrobble":
         {"artist":{"#text":"A"},"track":{"#text":"B"},"ignoredMessage":{"code":"0","#text":""}}}})"),
       Outcome::kDone, kNoWait, ""},
      // A token endpoint: only a refusal of the code or refresh token means log in again.
      {tk, answer(200, R"({"access_token":"a","refresh_token":"r"})"), Outcome::kDone, kNoWait, ""},
      {tk, answer(400, R"({"status":400,"message":"authorization_pending"})"), Outcome::kRetry,
       kNoWait, "authorization_pending"},
      {tk, answer(400, R"({"error":"invalid_grant"})"), Outcome::kLoginAgain, kNoWait,
       "invalid_grant"},
      {tk, answer(401, "Unauthorized"), Outcome::kLoginAgain, kNoWait, ""},
      {tk, answer(503, "<html>down"), Outcome::kRetry, kNoWait, "HTTP 503: <html>down"},
      {tk, answer(500, R"({"message":"Invalid refresh token"})"), Outcome::kRetry, kNoWait, ""},
      {tk, answer(200, "<html>sign in</html>"), Outcome::kRetry, kNoWait, "HTTP 200: <html>"},
      {tk, down, Outcome::kRetry, kNoWait, "Connection refused"},
  };
  for (const Case& c : cases) {
    const Verdict verdict = judgeAnswer(c.answer, c.judge, "http://h/x?secret=1", kNow);
    EXPECT_EQ(verdict.outcome, c.outcome) << verdict.message;
    EXPECT_EQ(verdict.wait ? static_cast<int>(verdict.wait->count()) : kNoWait, c.wait)
        << verdict.message;
    EXPECT_NE(verdict.message.find(c.message), std::string::npos) << verdict.message;
    EXPECT_EQ(verdict.message.find("secret=1"), std::string::npos) << verdict.message;
    EXPECT_EQ(verdict.ignored.size(), c.ignored);
  }
  const Case& one = *std::find_if(std::begin(cases), std::end(cases),
                                  [](const Case& c) { return c.ignored == 1; });
  const Verdict ignored = judgeAnswer(one.answer, fm, "http://h/x", kNow);
  EXPECT_EQ(ignored.ignored.at(0), "C - D: Artist was ignored");
  EXPECT_EQ(ignored.json["scrobbles"]["@attr"]["accepted"].string(), "1");
}

TEST(Request, BackoffDoublesUpToItsMostAndGivesUp) {
  struct Case {
    BackoffPolicy policy;
    std::vector<std::optional<Seconds>> serverWaits;  // one for each failure
    std::vector<int> waits;
    bool givenUp;
  };
  const std::optional<Seconds> none;
  const std::vector<std::optional<Seconds>> seven(7, none);
  const Case cases[] = {
      {{}, {none, none, none, none}, {1, 2, 4, 8}, false},
      {{}, {none, none, none, none, none}, {1, 2, 4, 8, 8}, true},
      {{.never = true}, seven, {1, 2, 4, 8, 60, 60, 60}, false},
      {{}, {none, Seconds(30), none}, {1, 30, 4}, false},
      {{.first = Seconds(2), .most = Seconds(300), .tries = 9},
       seven,
       {2, 4, 8, 16, 32, 64, 128},
       false},
      {{.tries = 1}, {Seconds(3)}, {3}, true},
  };
  for (const Case& c : cases) {
    Backoff backoff(c.policy);
    std::vector<int> waits;
    for (const auto& serverWait : c.serverWaits) {
      waits.push_back(static_cast<int>(backoff.failed(serverWait).count()));
    }
    EXPECT_EQ(waits, c.waits);
    EXPECT_EQ(backoff.givenUp(), c.givenUp);
    backoff.succeeded();
    EXPECT_EQ(backoff.failed().count(), c.policy.first.count());
  }
}

TEST(Request, AStopEndsAWaitAtOnce) {
  StopSignal stop;
  Clock& clock = systemClock();
  EXPECT_TRUE(clock.waitUntil(clock.now(), stop));
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.request();
  });
  const TimePoint start = clock.now();
  EXPECT_FALSE(clock.waitUntil(clock.after(std::chrono::minutes(10)), stop));
  stopper.join();
  EXPECT_LT(clock.now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(clock.waitUntil(clock.after(std::chrono::hours(1)), stop));
}

// No server on port 1: each poll fails and is tried again at the interval, until the code
// expires; a stop ends the wait.
TEST(Request, TheDeviceFlowPollsUntilTheCodeExpires) {
  FakeClock clock;
  StopSignal stop;
  const TimePoint start = clock.now();
  const platform::HttpRequest poll = oauthForm("http://127.0.0.1:1/oauth2/token", {});
  const Verdict expired = waitForDeviceToken(poll, Seconds(2), Seconds(9), clock, stop);
  EXPECT_EQ(expired.outcome, Outcome::kRefused);
  EXPECT_EQ(expired.message, "the code expired before it was entered");
  EXPECT_EQ(clock.now() - start, Seconds(10));
  stop.request();
  EXPECT_EQ(waitForDeviceToken(poll, Seconds(2), Seconds(9), clock, stop).outcome,
            Outcome::kStopped);
  EXPECT_EQ(clock.now() - start, Seconds(10));
}

}  // namespace
