#include "live/delay_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = DelayLine<std::string>::Clock;
using std::chrono::seconds;

// Items come out in order, each once its delay has passed, never before.
TEST(DelayLine, GivesEachItemOnceItIsDue) {
  const Clock::time_point t0{};
  struct Case {
    int delay;
    std::vector<int> arrivals;  // seconds after t0
    int now;                    // seconds after t0
    std::vector<std::string> due;
  };
  const Case cases[] = {
      {0, {0, 1}, 0, {"0"}},
      {0, {0, 1}, 1, {"0", "1"}},
      {30, {0, 1}, 29, {}},
      {30, {0, 1}, 30, {"0"}},
      {30, {0, 1, 2}, 600, {"0", "1", "2"}},
  };
  for (const Case& c : cases) {
    DelayLine<std::string> line{seconds(c.delay)};
    for (std::size_t i = 0; i < c.arrivals.size(); ++i) {
      line.push(t0 + seconds(c.arrivals[i]), std::to_string(i));
    }
    EXPECT_EQ(line.nextDue(), t0 + seconds(c.delay + c.arrivals[0]));
    std::vector<std::string> due;
    while (std::optional<std::string> item = line.takeDue(t0 + seconds(c.now)))
      due.push_back(*item);
    EXPECT_EQ(due, c.due) << c.delay << " " << c.now;
    EXPECT_EQ(line.nextDue().has_value(), due.size() < c.arrivals.size());
  }
}

}  // namespace
