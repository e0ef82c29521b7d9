// Fuzz target: Date on arbitrary text and arbitrary calendar times. A rejected text (-1)
// changes no member but status, which becomes 0; an accepted one leaves three equal texts
// in the output form that convert back to the same calendar time. A calendar time that
// converts comes back unchanged in time_value.
//
// Input: the text; its first eight bytes also serve as a calendar time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "util/Date.h"

namespace {

// Swallows the trace lines that the calendar-time conversions write.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
};

NullBuffer nullBuffer;

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isOneOf(std::string_view word, std::string_view names) {
  for (std::size_t at = 0; at + 3 <= names.size(); at += 4) {
    if (names.substr(at, 3) == word) return true;
  }
  return false;
}

// "Sun, 13 Nov 1994 08:49:37 GMT": the output form as the C locale writes it.
bool isOutputForm(const std::string& text) {
  if (text.size() != 29) return false;
  const std::string_view t = text;
  static constexpr std::size_t kDigits[] = {5, 6, 12, 13, 14, 15, 17, 18, 20, 21, 23, 24};
  for (std::size_t at : kDigits) {
    if (!isDigit(t[at])) return false;
  }
  return isOneOf(t.substr(0, 3), "Sun Mon Tue Wed Thu Fri Sat") && t.substr(3, 2) == ", " &&
         t[7] == ' ' &&
         isOneOf(t.substr(8, 3), "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec") &&
         t[11] == ' ' && t[16] == ' ' && t[19] == ':' && t[22] == ':' && t.substr(25) == " GMT";
}

struct Snapshot {
  std::string text1, text2, text3;
  std::time_t time_value, text_time;
  explicit Snapshot(const Date& d)
      : text1(d.text1),
        text2(d.text2),
        text3(d.text3),
        time_value(d.time_value),
        text_time(d.text_time) {}
  bool operator==(const Snapshot&) const = default;
};

// A date that holds a known conversion, so that a change by a rejected text shows.
Date preparedDate() {
  Date date;
  check(date.convert_date(std::string("Sun, 13 Nov 1994 08:49:37 GMT")) == 0,
        "the RFC 1123 example is not converted");
  check(date.text_time == 784716577, "the RFC 1123 example gives the wrong calendar time");
  date.status = 7;
  return date;
}

// Checks the outcome of one text conversion.
void checkConversion(int result, const Date& before, const Date& after) {
  check(result == 0 || result == -1, "a text conversion returned neither 0 nor -1");
  if (result != 0) {
    check(Snapshot(after) == Snapshot(before), "a rejected text changed the date");
    return;
  }
  check(after.text1 == after.text2 && after.text1 == after.text3, "three texts that differ");
  check(isOutputForm(after.text1), "a text not in the output form");
  check(after.time_value == after.text_time, "time_value is not the calendar time of the text");
  // The output text is itself an RFC 1123 date of the same moment.
  Date again;
  check(again.convert_date(after.text1) == 0, "the output text is not taken back");
  check(again.text1 == after.text1 && again.text_time == after.text_time,
        "the output text converts to another date");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cout.rdbuf(&nullBuffer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const Date before = preparedDate();
  Date date = preparedDate();
  const int result = date.convert_date(text);
  checkConversion(result, before, date);
  if (result != 0) check(date.status == 0, "a rejected text did not set status to 0");
  if (text.size() < 7) check(result == -1, "a text under seven characters was taken");

  Date rfc1123 = preparedDate();
  checkConversion(rfc1123.convert_from_rfc1123(text), before, rfc1123);
  Date rfc1036 = preparedDate();
  checkConversion(rfc1036.convert_from_rfc1036(text), before, rfc1036);
  Date asctime = preparedDate();
  checkConversion(asctime.convert_from_asctime(text), before, asctime);

  // The date that a text gives comes back from its calendar time.
  if (result == 0) {
    Date calendar;
    if (calendar.convert_date(date.text_time) == 0) {
      check(calendar.time_value == date.text_time, "the calendar time of a text does not return");
    }
  }

  if (size >= sizeof(std::int64_t)) {
    std::int64_t bits;
    std::memcpy(&bits, data, sizeof bits);
    const auto seconds = static_cast<std::time_t>(bits);
    Date calendar = preparedDate();
    const int converted = calendar.convert_date(seconds);
    check(converted == 0 || converted == -1, "a calendar time gave neither 0 nor -1");
    if (converted == 0) {
      check(calendar.time_value == seconds, "time_value is not the calendar time converted");
      check(calendar.text_time == seconds, "the text of a calendar time converts back elsewhere");
      check(calendar.text1 == calendar.text2 && calendar.text1 == calendar.text3,
            "three texts that differ");
      check(isOutputForm(calendar.text1), "a calendar time's text not in the output form");
    } else {
      check(Snapshot(calendar) == Snapshot(before), "a refused calendar time changed the date");
    }
  }
  return 0;
}
