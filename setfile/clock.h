// Clock readings as the set's files hold them: the local time of a moment, its offset from
// UTC, and the two written forms, "2026.12.07 23:08:31" (a playlist record) and
// "2026-12-07T23:08:31+01:00" (a set log line). One writer and one reader of each.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// A clock reading as the local clock showed it, with the local clock's offset from UTC at
// that moment, so that the hour repeated when daylight saving time ends is unambiguous.
struct LocalStamp {
  std::tm local{};    // tm_year, tm_mon, tm_mday, tm_hour, tm_min, tm_sec are used
  int utcOffset = 0;  // seconds east of UTC
};

// The local broken-down form of a clock reading; all zeros should the system not convert it.
std::tm localTime(std::time_t time);

// The local form of a clock reading and its offset; offset 0 should the system not convert it.
LocalStamp localStamp(std::time_t time);

// Seconds since 1970-01-01 00:00:00 of a clock time, taken as it reads (no time zone, no
// daylight saving), so that differences are what the wall clock shows.
std::int64_t clockSeconds(const std::tm& time);

// Whether year (full, e.g. 2026), month (1 to 12) and day name a day of the calendar.
bool isCalendarDay(int year, int month, int day);

// Separators between the six parts of a clock time, "YYYY?MM?DD?hh?mm?ss".
constexpr char kRecordClock[] = ".. ::";    // "2026.12.07 23:08:31"
constexpr char kRecordColumns[] = ";;;;;";  // "2026;12;07;23;08;31"
constexpr char kIsoClock[] = "--T::";       // "2026-12-07T23:08:31"

// Characters of "YYYY?MM?DD?hh?mm?ss" for a four-digit year.
constexpr std::size_t kClockSize = 19;

// Appends the six parts of the clock time, four digits for the year and two for the
// others, with `separators` between them.
void appendClock(const std::tm& time, const char* separators, std::string* out);

// "hh:mm:ss": the hours with at least hourWidth digits, the minutes and seconds with two. The
// one writer of a time of day and of a duration.
void appendHms(std::uint64_t hours, int minutes, int seconds, int hourWidth, std::string* out);

// "hh:mm:ss" of a clock time's time of day.
inline void appendTimeOfDay(const std::tm& time, std::string* out) {
  appendHms(static_cast<std::uint64_t>(time.tm_hour), time.tm_min, time.tm_sec, 2, out);
}

// "h:mm:ss" of a duration in seconds, the hours with at least hourWidth digits; a negative
// duration is written as 0.
inline void appendDuration(std::int64_t seconds, int hourWidth, std::string* out) {
  const auto whole = static_cast<std::uint64_t>(seconds < 0 ? 0 : seconds);
  appendHms(whole / 3600, static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60),
            hourWidth, out);
}

// Reads "YYYY?MM?DD?hh?mm?ss" at the start of text, the separators as `separators` gives;
// it must be a valid clock time on a day of the calendar. *time is changed only when true.
bool readClock(std::string_view text, const char* separators, std::tm* time);

// "2026-12-07" and "2026-12-07T23:08:31" (ISO 8601) of a local clock time.
void appendIsoDate(const std::tm& time, std::string* out);
void appendIsoDateTime(const std::tm& time, std::string* out);

// "2026-12-07T23:08:31+01:00" (ISO 8601); "Z" is read as +00:00 but never written.
void appendIsoStamp(const LocalStamp& stamp, std::string* out);
bool parseIsoStamp(std::string_view text, LocalStamp* stamp);

// "2026-12-07T23:08:31", the local time now.
std::string isoTimeNow();
