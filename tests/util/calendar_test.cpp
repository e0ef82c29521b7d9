#include "util/calendar.h"

#include <gtest/gtest.h>

namespace {

// Days counted by hand from 1970-01-01, across leap days, centuries and the edges of
// std::chrono's years, where the 400-year cycles take over.
TEST(Calendar, DaysOfDatesAndBack) {
  struct Case {
    std::int64_t year;
    int month, day;
    std::int64_t days;
    int weekday;
  };
  const Case cases[] = {
      {1970, 1, 1, 0, 4},         {1969, 12, 31, -1, 3},        {2000, 2, 29, 11016, 2},
      {2000, 3, 1, 11017, 3},     {1900, 3, 1, -25508, 4},      {2026, 12, 7, 20794, 1},
      {0, 1, 1, -719528, 6},      {-1, 12, 31, -719529, 5},     {9999, 12, 31, 2932896, 5},
      {40000, 1, 1, 13890172, 6}, {-40000, 1, 1, -15329228, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                 std::to_string(c.day));
    EXPECT_EQ(calendar::daysFromCivil(c.year, c.month, c.day), c.days);
    const calendar::CivilDate date = calendar::civilFromDays(c.days);
    EXPECT_EQ(date.year, c.year);
    EXPECT_EQ(date.month, c.month);
    EXPECT_EQ(date.day, c.day);
    EXPECT_EQ(calendar::weekdayOf(c.days), c.weekday);
  }
}

// A day beyond the month's end counts on into the next month, as timegm does.
TEST(Calendar, DayBeyondTheMonthCountsOn) {
  EXPECT_EQ(calendar::daysFromCivil(2026, 2, 30), calendar::daysFromCivil(2026, 3, 2));
  EXPECT_EQ(calendar::daysFromCivil(2024, 12, 32), calendar::daysFromCivil(2025, 1, 1));
  EXPECT_EQ(calendar::daysFromCivil(2025, 1, 0), calendar::daysFromCivil(2024, 12, 31));
}

}  // namespace
