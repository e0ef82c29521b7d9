// Date conversions. CTest runs this program under several time zones: every date text is
// GMT, so no result may depend on the zone.
#include "util/Date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace {

constexpr std::time_t kExample = 784716577;
const std::string kExampleText = "Sun, 13 Nov 1994 08:49:37 GMT";

void ExpectHolds(const Date& d, const std::string& text, std::time_t t) {
  EXPECT_EQ(d.text1, text);
  EXPECT_EQ(d.text2, text);
  EXPECT_EQ(d.text3, text);
  EXPECT_EQ(d.time_value, t);
  EXPECT_EQ(d.text_time, t);
}

// Guards the two-zone runs: the zone that CTest sets must really be in effect.
TEST(DateZone, TheZoneOfTheRunIsInEffect) {
  const char* zone = std::getenv("TZ");
  if (zone == nullptr) GTEST_SKIP() << "no TZ set";
  std::tm local = {};
  local.tm_year = 94;
  local.tm_mon = 10;
  local.tm_mday = 13;
  local.tm_hour = 8;
  local.tm_min = 49;
  local.tm_sec = 37;
  local.tm_isdst = -1;
  if (std::string(zone) == "UTC") {
    EXPECT_EQ(std::mktime(&local), kExample);
  } else {
    EXPECT_NE(std::mktime(&local), kExample) << "TZ=" << zone << " reads as UTC";
  }
}

TEST(DateText, EveryFormOfOneMomentGivesTheSameResult) {
  for (const char* text : {"Sun, 13 Nov 1994 08:49:37 GMT", "Sunday, 13-Nov-94 08:49:37 GMT",
                           "Sun Nov 13 08:49:37 1994", "sun, 13 NOV 1994 08:49:37 GMT"}) {
    SCOPED_TRACE(text);
    Date d;
    EXPECT_EQ(d.convert_date(text), 0);
    ExpectHolds(d, kExampleText, kExample);
  }
  Date d;
  EXPECT_EQ(d.convert_from_rfc1123("Sun, 13 Nov 1994 08:49:37 GMT"), 0);
  ExpectHolds(d, kExampleText, kExample);
  EXPECT_EQ(d.convert_from_rfc1036("Sunday, 13-Nov-94 08:49:37 GMT"), 0);
  ExpectHolds(d, kExampleText, kExample);
  EXPECT_EQ(d.convert_from_asctime("Sun Nov  6 08:49:37 1994"), 0);  // asctime pads the day
  ExpectHolds(d, "Sun, 06 Nov 1994 08:49:37 GMT", 784111777);
}

// Each text with the output text it gives (null: the text itself) and its calendar time.
TEST(DateText, WeekdayNamesYearsAndCalendarEdges) {
  struct Case {
    const char* text;
    const char* out;
    std::time_t t;
  };
  for (const Case& c : {
           // RFC 1036 with every weekday name, in any letter case.
           Case{"Tuesday, 15-Nov-94 08:49:37 GMT", "Tue, 15 Nov 1994 08:49:37 GMT", 784889377},
           Case{"wednesday, 16-nov-94 08:49:37 GMT", "Wed, 16 Nov 1994 08:49:37 GMT", 784975777},
           Case{"THURSDAY, 17-NOV-94 08:49:37 GMT", "Thu, 17 Nov 1994 08:49:37 GMT", 785062177},
           Case{"Saturday, 19-Nov-94 08:49:37 GMT", "Sat, 19 Nov 1994 08:49:37 GMT", 785234977},
           // Two-digit years: 70 to 99 and 00 to 69.
           Case{"Friday, 31-Dec-99 23:59:59 GMT", "Fri, 31 Dec 1999 23:59:59 GMT", 946684799},
           Case{"Tuesday, 31-Dec-69 23:59:59 GMT", "Tue, 31 Dec 2069 23:59:59 GMT", 3155759999},
           Case{"Wed, 31 Dec 1969 23:59:59 GMT", nullptr, -1},  // a real time, not a failure
           Case{"Mon, 01 Jan 1900 00:00:00 GMT", nullptr, -2208988800},
           Case{"Tue, 29 Feb 2000 12:00:00 GMT", nullptr, 951825600},
           Case{"Tue, 19 Jan 2038 03:14:08 GMT", nullptr, 2147483648},  // past 32 bits
           Case{"Sat, 31 Dec 2016 23:59:60 GMT", nullptr, 1483228800},  // leap second
       }) {
    SCOPED_TRACE(c.text);
    Date d;
    EXPECT_EQ(d.convert_date(c.text), 0);
    ExpectHolds(d, c.out ? c.out : c.text, c.t);
  }
  // A format without a weekday: the weekday comes from the date.
  Date d;
  EXPECT_EQ(d.convert_from_any("13-Nov-1994", "%d-%b-%Y"), 0);
  ExpectHolds(d, "Sun, 13 Nov 1994 00:00:00 GMT", 784684800);
}

TEST(DateText, RejectedTextsChangeNothing) {
  Date d;
  ASSERT_EQ(d.convert_date(kExampleText), 0);
  for (const char* text : {"",
                           "Sun, 1",
                           "Sun, 13",
                           "1994-11-13 08:49:37",
                           "Tuesday 15-Nov-94 08:49:37 GMT",
                           "Sundae, 13-Nov-94 08:49:37 GMT",
                           "Sun, 13 Nov 1994 08:49:37",
                           "Sun, 13 Nov 1994 08:49:37 GMT ",
                           "Sun, 13 Nov 94 08:49:37 GMT",
                           "Sun, 13-Nov-94 08:49:37 GMT",
                           "Sun, 00 Nov 1994 08:49:37 GMT",
                           "Sun, 32 Nov 1994 08:49:37 GMT",
                           "Sun, 13 Nox 1994 08:49:37 GMT",
                           "Sun, 13 Nov 1994 24:00:00 GMT",
                           "Sun, 13 Nov 1994 08:60:00 GMT",
                           "Sun, 13 Nov 1994 08:49:61 GMT",
                           "Sun, 13 Nov 1994 08:49:37 UTC",
                           "Sun Nov 13 08:49:37 94",
                           "Sun Nov 13 08:49:37 1994 GMT",
                           "Sunday, 13-Nov-1994 08:49:37 GMT"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(d.convert_date(text), -1);
    EXPECT_EQ(d.status, 0);
    ExpectHolds(d, kExampleText, kExample);
  }
  EXPECT_EQ(d.convert_from_rfc1123("Sunday, 13-Nov-94 08:49:37 GMT"), -1);
  EXPECT_EQ(d.convert_from_rfc1036("Sun, 13 Nov 1994 08:49:37 GMT"), -1);
  EXPECT_EQ(d.convert_from_asctime("Sun, 13 Nov 1994 08:49:37 GMT"), -1);
  EXPECT_EQ(d.convert_from_any("13", "%Q"), -1);
  ExpectHolds(d, kExampleText, kExample);
}

TEST(DateCalendarTime, ConvertsAsUtcAndTracesFourLines) {
  for (std::time_t t :
       {std::time_t{0}, std::time_t{-1}, kExample, std::time_t{951825600}, std::time_t{2147483648},
        std::time_t{253402300799}, std::time_t{-62167219200}}) {
    SCOPED_TRACE(t);
    Date d;
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.convert_date(t), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "7\n7\n7\n7\n");
    Date back;
    EXPECT_EQ(back.convert_date(d.text1), 0);
    ExpectHolds(d, back.text1, t);
    ExpectHolds(back, d.text1, t);
  }
  Date d;
  testing::internal::CaptureStdout();
  EXPECT_EQ(d.convert_date(kExample), 0);
  EXPECT_EQ(d.convert_date(std::time_t{253402300800}), -1);  // year 10000: no text for it
  // The ends of the 64-bit range lie far outside the years a text can show.
  EXPECT_EQ(d.convert_date(std::numeric_limits<std::time_t>::min()), -1);
  EXPECT_EQ(d.convert_date(std::numeric_limits<std::time_t>::max()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "7\n7\n7\n7\n");
  ExpectHolds(d, kExampleText, kExample);
}

TEST(DateCalendarTime, CurrentTimeTracesElevenLinesAndKeepsTheClock) {
  Date d;
  testing::internal::CaptureStdout();
  const std::time_t before = std::time(nullptr);
  EXPECT_EQ(d.current_time(), 0);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "1\n2\n3\n4\n5\n7\n7\n7\n7\n6\n7\n");
  EXPECT_GE(d.time_value, before);
  EXPECT_LE(d.time_value, after);
  EXPECT_EQ(d.text_time, d.time_value);
  Date same;
  testing::internal::CaptureStdout();
  same.convert_date(d.time_value);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(same.text1, d.text1);
}

}  // namespace
