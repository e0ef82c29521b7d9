#include "setfile/set_log_line.h"

#include <gtest/gtest.h>

#include <string>

#include "setfile/file_names.h"
#include "setfile/text.h"

namespace {

LocalStamp stamp(int year, int month, int day, int hour, int minute, int second, int offset) {
  LocalStamp s;
  s.local.tm_year = year - 1900;
  s.local.tm_mon = month - 1;
  s.local.tm_mday = day;
  s.local.tm_hour = hour;
  s.local.tm_min = minute;
  s.local.tm_sec = second;
  s.utcOffset = offset;
  return s;
}

std::string iso(const LocalStamp& s) {
  std::string text;
  appendIsoStamp(s, &text);
  return text;
}

TEST(SetLog, WritesTheLineAndReadsItBack) {
  struct Case {
    Track track;
    int offset;
    std::string line;  // the line written; also the texts it must read back as
  };
  const Case cases[] = {
      {{"Beyonc\u00e9", "Don\u2019t Hurt Yourself \u2013 Live", "Lemonade"},
       3600,
       "{\"time\":\"2026-12-07T23:08:31+01:00\",\"deck\":\"L\",\"artist\":\"Beyonc\u00e9\","
       "\"song\":\"Don\u2019t Hurt Yourself \u2013 Live\",\"album\":\"Lemonade\","
       "\"loaded\":\"2026-12-07T23:05:02+01:00\"}"},
      // Quotes, backslashes and control characters escaped; CJK and an emoji kept raw.
      {{"a\"b\\c", "\t\n\r\x01\x1f\x7f", "\u6771\u4eac \U0001F3B5"},
       -(5 * 3600 + 30 * 60),
       "{\"time\":\"2026-12-07T23:08:31-05:30\",\"deck\":\"L\",\"artist\":\"a\\\"b\\\\c\","
       "\"song\":\"\\u0009\\u000a\\u000d\\u0001\\u001f\x7f\",\"album\":\"\u6771\u4eac \U0001F3B5\","
       "\"loaded\":\"2026-12-07T23:05:02-05:30\"}"},
      {{"", "", ""},
       0,
       "{\"time\":\"2026-12-07T23:08:31+00:00\",\"deck\":\"L\",\"artist\":\"\",\"song\":\"\","
       "\"album\":\"\",\"loaded\":\"2026-12-07T23:05:02+00:00\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const SetLogLine line{stamp(2026, 12, 7, 23, 8, 31, c.offset), Deck::kLeft, c.track,
                          stamp(2026, 12, 7, 23, 5, 2, c.offset)};
    EXPECT_EQ(formatSetLogLine(line), c.line);
    SetLogLine back;
    ASSERT_TRUE(parseSetLogLine(c.line, &back));
    EXPECT_EQ(back.track, c.track);
    EXPECT_EQ(iso(back.time), iso(line.time));
    ASSERT_TRUE(back.loaded);
    EXPECT_EQ(iso(*back.loaded), iso(*line.loaded));
  }
  // Bytes that are not UTF-8 are written as U+FFFD, so the line stays readable.
  const SetLogLine broken{
      stamp(2026, 1, 1, 0, 0, 0, 0), Deck::kRight, {"\xE9t\xE9", "\xC3", "ok"}, std::nullopt};
  SetLogLine back;
  ASSERT_TRUE(parseSetLogLine(formatSetLogLine(broken), &back));
  EXPECT_EQ(back.track, (Track{"\uFFFDt\uFFFD", "\uFFFD", "ok"}));
  EXPECT_EQ(back.deck, Deck::kRight);
  EXPECT_FALSE(back.loaded);
}

TEST(SetLog, ReadsAnyWellFormedLineAndRefusesTheRest) {
  const std::string t = "\"time\":\"2026-02-28T23:08:31+01:00\"";
  const std::string d = "\"deck\":\"R\"";
  const std::string texts = "\"artist\":\"A\",\"song\":\"S\",\"album\":\"B\"";
  struct Case {
    std::string line;
    bool ok;
    std::string artist;
  };
  const Case cases[] = {
      {"{" + t + "," + d + "," + texts + "}", true, "A"},
      {" { \"album\" : \"B\" ,\t\"song\":\"S\", \"artist\":\"A\"," + d + "," + t + "}\r", true,
       "A"},
      {"{" + t + "," + d + "," + texts + ",\"extra\":\"x\"}", true, "A"},
      {"{" + t + "," + d +
           ",\"artist\":\"\\u00e9\\/\\ud83c\\udfb5\\ud800x\\udc00\",\"song\":\"S\","
           "\"album\":\"B\"}",
       true, "\u00e9/\U0001F3B5\uFFFDx\uFFFD"},
      {"{\"time\":\"2026-02-28T23:08:31Z\"," + d + "," + texts + "}", true, "A"},
      {"", false, ""},
      {"{}", false, ""},
      {"{" + t + "," + d + "," + texts, false, ""},                  // cut short
      {"{" + t + "," + d + "," + texts + "}x", false, ""},           // text after it
      {"{" + t + "," + d + "," + texts + ",}", false, ""},           // trailing comma
      {"{" + t + "," + t + "," + d + "," + texts + "}", false, ""},  // twice
      {"{" + d + "," + texts + "}", false, ""},                      // no time
      {"{" + t + ",\"deck\":\"X\"," + texts + "}", false, ""},       // no such deck
      {"{" + t + "," + d + "," + texts + ",\"loaded\":\"soon\"}", false, ""},
      {"{\"time\":\"2026-02-31T23:08:31+01:00\"," + d + "," + texts + "}", false, ""},
      {"{\"time\":\"2026-02-28T24:08:31+01:00\"," + d + "," + texts + "}", false, ""},
      {"{\"time\":\"2026-02-28 23:08:31+01:00\"," + d + "," + texts + "}", false, ""},
      {"{" + t + "," + d + ",\"artist\":\"\xE9\",\"song\":\"S\",\"album\":\"B\"}", false, ""},
      {"{" + t + "," + d + ",\"artist\":\"a\tb\",\"song\":\"S\",\"album\":\"B\"}", false, ""},
      {"{" + t + "," + d + ",\"artist\":\"\\x\",\"song\":\"S\",\"album\":\"B\"}", false, ""},
      {"{" + t + "," + d + ",\"artist\":\"\\u12\",\"song\":\"S\",\"album\":\"B\"}", false, ""},
      {"{" + t + "," + d + ",\"artist\":1,\"song\":\"S\",\"album\":\"B\"}", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    SetLogLine line;
    line.track.artist = "unchanged";
    ASSERT_EQ(parseSetLogLine(c.line, &line), c.ok);
    EXPECT_EQ(line.track.artist, c.ok ? c.artist : "unchanged");
  }
}

TEST(SetLog, StampsAndCalendar) {
  // The local reading and its offset name the same instant as the clock reading.
  for (const std::time_t t : {std::time_t{0}, std::time_t{1796684911}, std::time_t{1782000000}}) {
    const LocalStamp s = localStamp(t);
    EXPECT_EQ(clockSeconds(s.local) - s.utcOffset, t);
  }
  EXPECT_EQ(iso(stamp(999, 1, 2, 3, 4, 5, 14 * 3600)), "0999-01-02T03:04:05+14:00");
  EXPECT_TRUE(isCalendarDay(2024, 2, 29));
  EXPECT_FALSE(isCalendarDay(2026, 2, 29));
  EXPECT_FALSE(isCalendarDay(1900, 2, 29));
  EXPECT_TRUE(isCalendarDay(2000, 2, 29));
  EXPECT_FALSE(isCalendarDay(2026, 4, 31));
  EXPECT_FALSE(isCalendarDay(2026, 13, 1));
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  EXPECT_TRUE(isUtf8("plain \u00e9\u2019\U0001F3B5"));
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE2\x80", "\x80", "\xFF"}) {
    EXPECT_FALSE(isUtf8(bad)) << bad;
  }
}

}  // namespace

namespace {

// One rule for the tracker that writes the set log and for setlist that looks for it.
TEST(SetLog, NameBesideThePlaylist) {
  EXPECT_EQ(setLogFileName("Playlist_2026.12.07_22_00_00.txt"),
            "Playlist_2026.12.07_22_00_00.jsonl");
  EXPECT_EQ(setLogFileName("dir.txt/set.txt"), "dir.txt/set.jsonl");
  EXPECT_EQ(setLogFileName("set.csv"), "");
  EXPECT_EQ(setLogFileName("set.jsonl"), "");
  EXPECT_EQ(setLogFileName("txt"), "");
}

}  // namespace
