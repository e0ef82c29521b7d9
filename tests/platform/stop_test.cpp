// A stop requested from another thread (as a console or signal handler does) cuts a long
// sleep short. The margin is wide on purpose: this checks that the sleep wakes at all,
// not how fast.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"

TEST(Stop, ALongSleepEndsSoonAfterAStopIsRequested) {
  platform::installStopHandler();
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    platform::requestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  platform::sleepMilliseconds(60000);
  const auto slept = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_TRUE(platform::stopRequested());
  EXPECT_LT(slept, std::chrono::seconds(20));
}
