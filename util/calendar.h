// Date arithmetic on the proleptic Gregorian calendar, done by std::chrono's calendar: days
// since 1970-01-01 of a date, the date of such a day and its weekday. The one place that
// counts days, for the tracker's dates and the set's clock stamps alike.
#pragma once

#include <chrono>
#include <cstdint>

namespace calendar {

// std::chrono's years reach only +-32767; the calendar repeats itself every 400 years
// (146097 days), so every year is counted as a year of 2000 to 2399 plus whole cycles.
constexpr std::int64_t kCycleYears = 400;
constexpr std::int64_t kCycleDays = 146097;
constexpr std::int64_t kFirstCycleYear = 2000;

constexpr std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a date (month 1 to 12). A day beyond the month's end (or 0)
// counts on into the next month (or back into the last), as timegm does.
constexpr std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
  using namespace std::chrono;
  const std::int64_t cycles = floorDivide(year - kFirstCycleYear, kCycleYears);
  const auto inCycle = static_cast<int>(year - cycles * kCycleYears);
  const sys_days first{std::chrono::year{inCycle} /
                       std::chrono::month{static_cast<unsigned>(month)} / 1};
  return cycles * kCycleDays + (first.time_since_epoch() + days{day - 1}).count();
}

// A date: full year, month 1 to 12, day 1 to 31.
struct CivilDate {
  std::int64_t year = 1970;
  int month = 1;
  int day = 1;
};

// The date of a day counted from 1970-01-01.
constexpr CivilDate civilFromDays(std::int64_t count) {
  using namespace std::chrono;
  constexpr std::int64_t kFirstCycleDay = 10957;  // 2000-01-01
  const std::int64_t cycles = floorDivide(count - kFirstCycleDay, kCycleDays);
  const year_month_day date{sys_days{days{count - cycles * kCycleDays}}};
  return {std::int64_t{static_cast<int>(date.year())} + cycles * kCycleYears,
          static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
}

// The weekday of a day counted from 1970-01-01: 0 for Sunday to 6 for Saturday.
constexpr int weekdayOf(std::int64_t count) {
  const std::chrono::sys_days day{std::chrono::days{count % 7 + 7}};  // a week from 1970-01-08
  return static_cast<int>(std::chrono::weekday{day}.c_encoding());
}

}  // namespace calendar
