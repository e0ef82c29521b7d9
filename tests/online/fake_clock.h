// Time that passes only when the test moves it or code waits on it: a wait ends at once
// (the clock then shows its end), unless a stop came. For tests of code that waits.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "online/request.h"

class FakeClock : public Clock {
 public:
  TimePoint now() override { return now_; }
  std::int64_t unixSeconds() override { return 0; }
  bool waitUntil(TimePoint when, const StopSignal& stop) override {
    if (stop.requested()) return false;
    now_ = std::max(now_, when);
    std::this_thread::yield();  // a worker that waits in a loop lets the test's thread on
    return true;
  }
  TimePoint after(std::chrono::milliseconds length) override { return now_ + length; }
  void move(std::chrono::milliseconds length) { now_ += length; }

 private:
  TimePoint now_;
};
