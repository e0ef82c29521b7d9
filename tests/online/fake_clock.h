// Time that passes only when waited on, for tests of code that waits: a wait ends at
// once (the clock then shows its end), unless a stop came.
#pragma once

#include <algorithm>

#include "online/request.h"

class FakeClock : public Clock {
 public:
  TimePoint now() override { return now_; }
  std::int64_t unixSeconds() override { return 0; }
  bool waitUntil(TimePoint when, const StopSignal& stop) override {
    if (stop.requested()) return false;
    now_ = std::max(now_, when);
    return true;
  }
  TimePoint after(std::chrono::milliseconds length) override { return now_ + length; }

 private:
  TimePoint now_;
};
