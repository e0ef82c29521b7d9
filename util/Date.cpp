#include "util/Date.h"

#include <array>
#include <cstdint>
#include <iostream>
#include <string_view>

#include "platform/ascii.h"
#include "util/calendar.h"

static_assert(sizeof(std::time_t) >= 8, "calendar times must be 64-bit");

namespace {

constexpr std::string_view kRfc1123 = "%a, %d %b %Y %H:%M:%S GMT";
constexpr std::string_view kRfc1036 = "%A, %d-%b-%y %H:%M:%S GMT";
constexpr std::string_view kAsctime = "%a %b %d %H:%M:%S %Y";

constexpr std::array<std::string_view, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

constexpr std::int64_t kSecondsPerDay = 86400;

// A date and time of day in UTC, as read from a text or broken down from a calendar time.
struct Fields {
  std::int64_t year = 1970;
  int month = 0;  // 0 to 11
  int day = 1;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;    // 0 to 60
  int weekday = -1;  // 0 (Sunday) to 6; -1 until a text names it
};

bool starts_with_nocase(std::string_view text, std::size_t at, std::string_view word) {
  return text.size() - at >= word.size() &&
         platform::equalsIgnoringCase(text.substr(at, word.size()), word);
}

// Matches a full name or its three-letter abbreviation, in any letter case; the index of the
// name, or -1.
template <std::size_t N>
int match_name(std::string_view text, std::size_t& at,
               const std::array<std::string_view, N>& names) {
  for (std::size_t n = 0; n < N; ++n) {
    for (std::size_t len : {names[n].size(), std::size_t{3}}) {
      if (starts_with_nocase(text, at, names[n].substr(0, len))) {
        at += len;
        return static_cast<int>(n);
      }
    }
  }
  return -1;
}

// Reads min_digits to max_digits decimal digits holding a value from low to high.
bool match_number(std::string_view text, std::size_t& at, int min_digits, int max_digits, int low,
                  int high, int& value) {
  int digits = 0;
  int v = 0;
  while (digits < max_digits && at < text.size() && text[at] >= '0' && text[at] <= '9') {
    v = v * 10 + (text[at] - '0');
    ++at;
    ++digits;
  }
  if (digits < min_digits || v < low || v > high) return false;
  value = v;
  return true;
}

// Reads the whole text according to the format. A blank in the format stands for one or
// more blanks, so that asctime's space-padded day ("Nov  6") matches "%b %d".
bool parse(std::string_view text, std::string_view format, Fields& f) {
  std::size_t at = 0;
  for (std::size_t k = 0; k < format.size(); ++k) {
    const char c = format[k];
    if (c == ' ') {
      if (at >= text.size() || text[at] != ' ') return false;
      while (at < text.size() && text[at] == ' ') ++at;
      continue;
    }
    if (c != '%' || (k + 1 < format.size() && format[k + 1] == '%')) {
      if (at >= text.size() || text[at] != c) return false;
      ++at;
      k += (c == '%') ? 1 : 0;
      continue;
    }
    if (++k >= format.size()) return false;
    bool ok = true;
    int year = 0;
    switch (format[k]) {
      case 'a':
      case 'A':
        f.weekday = match_name(text, at, kWeekdays);
        ok = f.weekday >= 0;
        break;
      case 'b':
        f.month = match_name(text, at, kMonths);
        ok = f.month >= 0;
        break;
      case 'd':
        ok = match_number(text, at, 1, 2, 1, 31, f.day);
        break;
      case 'H':
        ok = match_number(text, at, 1, 2, 0, 23, f.hour);
        break;
      case 'M':
        ok = match_number(text, at, 1, 2, 0, 59, f.minute);
        break;
      case 'S':
        ok = match_number(text, at, 1, 2, 0, 60, f.second);
        break;
      case 'Y':
        ok = match_number(text, at, 4, 4, 0, 9999, year);
        f.year = year;
        break;
      case 'y':
        ok = match_number(text, at, 2, 2, 0, 99, year);
        f.year = year + (year >= 70 ? 1900 : 2000);
        break;
      default:
        ok = false;
    }
    if (!ok) return false;
  }
  return at == text.size();
}

void append2(std::string& s, int v) {
  s += static_cast<char>('0' + v / 10);
  s += static_cast<char>('0' + v % 10);
}

// The output form "%a, %d %b %Y %X GMT" as strftime writes it in the C locale, where %X is
// "%H:%M:%S". Written here so that it neither depends on the locale nor on the range checks
// that some C libraries make in strftime.
std::string output_text(const Fields& f) {
  std::string s;
  s.reserve(32);
  s += kWeekdays[static_cast<std::size_t>(f.weekday)].substr(0, 3);
  s += ", ";
  append2(s, f.day);
  s += ' ';
  s += kMonths[static_cast<std::size_t>(f.month)].substr(0, 3);
  s += ' ';
  const int year = static_cast<int>(f.year);
  append2(s, year / 100);
  append2(s, year % 100);
  s += ' ';
  append2(s, f.hour);
  s += ':';
  append2(s, f.minute);
  s += ':';
  append2(s, f.second);
  s += " GMT";
  return s;
}

void trace(int line) { std::cout << line << std::endl; }

}  // namespace

int Date::convert_date(std::string text) {
  if (text.size() < 7) {
    status = 0;
    return -1;
  }
  int result = -1;
  if (text[3] == ',') {
    result = convert_from_rfc1123(std::move(text));
  } else if (text[6] == ',') {
    result = convert_from_rfc1036(std::move(text));
  } else {
    // RFC 1036 dates of the weekdays with longer names have their comma further on.
    bool full_weekday = false;
    for (std::string_view day : kWeekdays) {
      full_weekday = full_weekday || (text.size() > day.size() && text[day.size()] == ',' &&
                                      starts_with_nocase(text, 0, day));
    }
    if (full_weekday) {
      result = convert_from_rfc1036(std::move(text));
    } else if (text[3] == ' ') {
      result = convert_from_asctime(std::move(text));
    }
  }
  if (result != 0) status = 0;
  return result;
}

int Date::convert_date(std::time_t seconds) {
  const std::int64_t days = calendar::floorDivide(seconds, kSecondsPerDay);
  // The second of the day from the remainder: days * kSecondsPerDay would overflow for
  // the earliest calendar times.
  std::int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) rest += kSecondsPerDay;
  const auto in_day = static_cast<int>(rest);
  Fields f;
  const calendar::CivilDate date = calendar::civilFromDays(days);
  f.year = date.year;
  f.month = date.month - 1;
  f.day = date.day;
  if (f.year < 0 || f.year > 9999) return -1;
  f.hour = in_day / 3600;
  f.minute = in_day / 60 % 60;
  f.second = in_day % 60;
  f.weekday = calendar::weekdayOf(days);

  time_value = seconds;
  const std::string text = output_text(f);
  trace(7);
  trace(7);
  trace(7);
  convert_from_rfc1123(text);
  trace(7);
  return 0;
}

int Date::current_time() {
  trace(1);
  trace(2);
  trace(3);
  const std::time_t now = std::time(nullptr);
  trace(4);
  trace(5);
  convert_date(now);
  trace(6);
  time_value = now;
  trace(7);
  return 0;
}

int Date::convert_from_rfc1123(std::string text) {
  return convert_from_any(std::move(text), std::string(kRfc1123));
}

int Date::convert_from_rfc1036(std::string text) {
  return convert_from_any(std::move(text), std::string(kRfc1036));
}

int Date::convert_from_asctime(std::string text) {
  return convert_from_any(std::move(text), std::string(kAsctime));
}

int Date::convert_from_any(std::string text, std::string format) {
  Fields f;
  if (!parse(text, format, f)) return -1;
  const std::int64_t days = calendar::daysFromCivil(f.year, f.month + 1, f.day);
  if (f.weekday < 0) f.weekday = calendar::weekdayOf(days);

  text1 = output_text(f);
  text2 = text1;
  text3 = text1;
  text_time = days * kSecondsPerDay + f.hour * 3600 + f.minute * 60 + f.second;
  time_value = text_time;
  return 0;
}
