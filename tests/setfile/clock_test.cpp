#include "setfile/clock.h"

#include <gtest/gtest.h>

namespace {

// The one "hh:mm:ss" writer: durations of the tracklist (two-digit hours) and of Mixcloud's
// sections (one-digit hours), and a clock time's time of day, leap second included.
TEST(Clock, WritesHoursMinutesSeconds) {
  struct Case {
    std::int64_t seconds;
    int hourWidth;
    const char* text;
  };
  const Case cases[] = {
      {0, 2, "00:00:00"},     {3599, 2, "00:59:59"},    {3600, 1, "1:00:00"},
      {36061, 1, "10:01:01"}, {360000, 2, "100:00:00"}, {-3700, 1, "0:00:00"},
  };
  for (const Case& c : cases) {
    std::string text = "@";
    appendDuration(c.seconds, c.hourWidth, &text);
    EXPECT_EQ(text, std::string("@") + c.text) << c.seconds;
  }
  std::tm time{};
  time.tm_hour = 23;
  time.tm_min = 5;
  time.tm_sec = 60;
  std::string text;
  appendTimeOfDay(time, &text);
  EXPECT_EQ(text, "23:05:60");
}

}  // namespace
