// Things that wait a fixed time before they are shown, in the order they came.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <utility>

template <class T>
class DelayLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit DelayLine(std::chrono::seconds delay) : delay_(delay) {}

  // Adds an item that came at `at`: it is due delay later.
  void push(Clock::time_point at, T item) { waiting_.emplace_back(at + delay_, std::move(item)); }

  // The oldest item due by `now`, taken from the line.
  std::optional<T> takeDue(Clock::time_point now) {
    if (waiting_.empty() || waiting_.front().first > now) return std::nullopt;
    T item = std::move(waiting_.front().second);
    waiting_.pop_front();
    return item;
  }

  // When the oldest item is due.
  std::optional<Clock::time_point> nextDue() const {
    if (waiting_.empty()) return std::nullopt;
    return waiting_.front().first;
  }

 private:
  std::chrono::seconds delay_;
  std::deque<std::pair<Clock::time_point, T>> waiting_;
};
