#include "online/announcer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/online/fake_clock.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A service whose answers the test sets: each try is kept, with the outcome given.
struct Service {
  std::mutex mutex;
  Outcome answer = Outcome::kDone;
  std::vector<std::pair<std::string, Outcome>> tries;

  Announcer::Send send() {
    return [this](const std::string& text, const StopSignal&) {
      const std::lock_guard<std::mutex> lock(mutex);
      tries.emplace_back(text, answer);
      Verdict verdict;
      verdict.outcome = answer;
      verdict.message = "HTTP 503";
      return verdict;
    };
  }
  void set(Outcome outcome) {
    const std::lock_guard<std::mutex> lock(mutex);
    answer = outcome;
  }
  // The texts of the tries with that outcome, once `count` of them were made.
  std::vector<std::string> waitFor(Outcome outcome, std::size_t count) {
    for (int i = 0; i < 500; ++i) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> texts;
        for (const auto& [text, given] : tries)
          if (given == outcome) texts.push_back(text);
        if (texts.size() >= count) return texts;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }
};

TEST(Announcer, OnlyTheNewestWaitsWhileTheServiceIsDown) {
  FakeClock clock;
  Service service;
  service.set(Outcome::kRetry);
  CaptureStderr();
  {
    Announcer announcer("Svc", service.send(), "gone", clock);
    announcer.announce("first");
    service.waitFor(Outcome::kRetry, 3);
    announcer.announce("second");
    announcer.announce("third");
    // Once "third" was tried, no older text is tried again.
    for (int i = 0; i < 500 && service.waitFor(Outcome::kRetry, 1).back() != "third"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    service.set(Outcome::kDone);
    EXPECT_EQ(service.waitFor(Outcome::kDone, 1), std::vector<std::string>{"third"});
    announcer.announce("fourth");
    EXPECT_EQ(service.waitFor(Outcome::kDone, 2), (std::vector<std::string>{"third", "fourth"}));
  }
  const std::string err = GetCapturedStderr();
  EXPECT_NE(err.find("Svc: HTTP 503; trying again in 1 s"), std::string::npos) << err;
  EXPECT_NE(err.find("Svc: announced again"), std::string::npos) << err;
}

TEST(Announcer, AGoneAccountIsToldOnceAndNothingMoreIsSent) {
  FakeClock clock;
  Service service;
  service.set(Outcome::kLoginAgain);
  CaptureStderr();
  {
    Announcer announcer("Svc", service.send(), "log in again", clock);
    announcer.announce("one");
    service.waitFor(Outcome::kLoginAgain, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    announcer.announce("two");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(service.tries.size(), 1u);
  EXPECT_EQ(err.find("Svc: log in again"), err.rfind("Svc: log in again")) << err;
  EXPECT_NE(err.find("Svc: log in again"), std::string::npos) << err;
}

}  // namespace
