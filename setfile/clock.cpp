#include "setfile/clock.h"

#include "setfile/text.h"
#include "util/calendar.h"

namespace {

// The number of `count` digits at text; -1 when one of them is not a digit.
int digits(const char* text, std::size_t count) {
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto digit = static_cast<unsigned char>(text[i] - '0');
    if (digit > 9) return -1;
    value = value * 10 + digit;
  }
  return value;
}

// The local broken-down form of a clock reading: the one place that asks the system.
bool toLocal(std::time_t time, std::tm* local) {
  const std::tm* converted = std::localtime(&time);
  if (converted == nullptr) return false;
  *local = *converted;
  return true;
}

}  // namespace

std::tm localTime(std::time_t time) {
  std::tm local{};
  toLocal(time, &local);
  return local;
}

LocalStamp localStamp(std::time_t time) {
  LocalStamp stamp;
  if (!toLocal(time, &stamp.local)) return stamp;
  stamp.utcOffset = static_cast<int>(clockSeconds(stamp.local) - static_cast<std::int64_t>(time));
  return stamp;
}

std::int64_t clockSeconds(const std::tm& time) {
  return calendar::daysFromCivil(std::int64_t{time.tm_year} + 1900, time.tm_mon + 1, time.tm_mday) *
             86400 +
         time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}

bool isCalendarDay(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

void appendClock(const std::tm& time, const char* separators, std::string* out) {
  const int parts[6] = {time.tm_year + 1900, time.tm_mon + 1, time.tm_mday,
                        time.tm_hour,        time.tm_min,     time.tm_sec};
  for (int i = 0; i < 6; ++i) {
    if (i > 0) out->push_back(separators[i - 1]);
    appendNumber(parts[i], i == 0 ? 4 : 2, out);
  }
}

void appendHms(std::uint64_t hours, int minutes, int seconds, int hourWidth, std::string* out) {
  appendNumber(hours, hourWidth, out);
  out->push_back(':');
  appendNumber(minutes, 2, out);
  out->push_back(':');
  appendNumber(seconds, 2, out);
}

bool readClock(std::string_view text, const char* separators, std::tm* time) {
  static constexpr std::size_t kWidths[] = {4, 2, 2, 2, 2, 2};
  if (text.size() < kClockSize) return false;
  const char* p = text.data();
  int values[6];
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && *p++ != separators[i - 1]) return false;
    values[i] = digits(p, kWidths[i]);
    if (values[i] < 0) return false;
    p += kWidths[i];
  }
  if (!isCalendarDay(values[0], values[1], values[2]) || values[3] > 23 || values[4] > 59 ||
      values[5] > 60) {
    return false;
  }
  *time = std::tm{};
  time->tm_year = values[0] - 1900;
  time->tm_mon = values[1] - 1;
  time->tm_mday = values[2];
  time->tm_hour = values[3];
  time->tm_min = values[4];
  time->tm_sec = values[5];
  return true;
}

void appendIsoDate(const std::tm& time, std::string* out) {
  appendNumber(time.tm_year + 1900, 4, out);
  out->push_back('-');
  appendNumber(time.tm_mon + 1, 2, out);
  out->push_back('-');
  appendNumber(time.tm_mday, 2, out);
}

void appendIsoDateTime(const std::tm& time, std::string* out) { appendClock(time, kIsoClock, out); }

void appendIsoStamp(const LocalStamp& stamp, std::string* out) {
  appendIsoDateTime(stamp.local, out);
  const int minutes = (stamp.utcOffset < 0 ? -stamp.utcOffset : stamp.utcOffset) / 60;
  out->push_back(stamp.utcOffset < 0 ? '-' : '+');
  appendNumber(minutes / 60, 2, out);
  out->push_back(':');
  appendNumber(minutes % 60, 2, out);
}

bool parseIsoStamp(std::string_view text, LocalStamp* stamp) {
  // "YYYY-MM-DDThh:mm:ss" then "Z" or "+hh:mm" / "-hh:mm".
  std::tm local;
  if ((text.size() != kClockSize + 1 && text.size() != kClockSize + 6) ||
      !readClock(text, kIsoClock, &local)) {
    return false;
  }
  const std::string_view zone = text.substr(kClockSize);
  int offset = 0;
  if (zone.size() == 1) {
    if (zone[0] != 'Z') return false;
  } else {
    const int hours = digits(zone.data() + 1, 2);
    const int minutes = digits(zone.data() + 4, 2);
    if ((zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || hours < 0 || hours > 23 ||
        minutes < 0 || minutes > 59) {
      return false;
    }
    offset = (hours * 60 + minutes) * 60 * (zone[0] == '-' ? -1 : 1);
  }
  stamp->local = local;
  stamp->utcOffset = offset;
  return true;
}

std::string isoTimeNow() {
  std::string text;
  appendIsoDateTime(localTime(std::time(nullptr)), &text);
  return text;
}
