// A stop requested from another thread (as a console or signal handler does) cuts a long
// sleep short. The margin is wide on purpose: this checks that the sleep wakes at all,
// not how fast.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"

TEST(Stop, ALongSleepEndsSoonAfterAStopIsRequested) {
  platform::InstallStopHandler();
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    platform::RequestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  platform::SleepMilliseconds(60000);
  const auto slept = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_TRUE(platform::StopRequested());
  EXPECT_LT(slept, std::chrono::seconds(20));
}
