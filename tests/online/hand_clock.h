// A clock for the tests of the senders: time passes only when the test moves it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "online/request.h"

class HandClock : public Clock {
 public:
  TimePoint now() override { return now_; }
  std::int64_t unixSeconds() override { return 0; }
  bool waitUntil(TimePoint when, const StopSignal& stop) override {
    now_ = std::max(now_, when);
    return !stop.requested();
  }
  TimePoint after(std::chrono::milliseconds length) override { return now_ + length; }
  void move(std::chrono::milliseconds length) { now_ += length; }

 private:
  TimePoint now_;
};
