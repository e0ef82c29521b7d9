#include "publish/recording.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "hh:mm:ss" on 7 December 2026, "+hh:mm:ss" on the day after.
std::tm at(std::string_view text) {
  std::tm time{};
  time.tm_year = 126;
  time.tm_mon = 11;
  time.tm_mday = text[0] == '+' ? 8 : 7;
  if (text[0] == '+') text.remove_prefix(1);
  const int seconds = *parseClock(text);
  time.tm_hour = seconds / 3600;
  time.tm_min = seconds / 60 % 60;
  time.tm_sec = seconds % 60;
  return time;
}

TEST(RecordingPoints, PlaceEachTrackInTheRecording) {
  struct Track {
    const char *logged, *loaded;  // no loaded time: ""
    std::int64_t point;
    std::optional<int> offsetHours =
        std::nullopt;  // both times' offset from UTC, as a set log gives it
  };
  struct Case {
    const char *name, *start;
    PointTime at;
    std::int64_t shiftMs;
    std::vector<Track> tracks;
    std::uint64_t movedUp;
    bool startAfterFirst;
  };
  constexpr PointTime kLogged = PointTime::kLogged, kLoaded = PointTime::kLoaded;
  // clang-format off
  const Case cases[] = {
      {"logged", "23:00:00", kLogged, 0,
       {{"23:00:10", "22:58:00", 10000}, {"23:05:00", "23:03:30", 300000}}, 0, false},
      {"loaded, the first before zero", "23:00:00", kLoaded, 0,
       {{"23:00:10", "22:58:00", 0}, {"23:05:00", "23:03:30", 210000}}, 0, false},
      {"shifted back before zero", "23:00:00", kLogged, -15500,
       {{"23:00:10", "", 0}, {"23:00:20", "", 4500}}, 0, false},
      {"shifted forward", "23:00:00", kLogged, 3125, {{"23:00:00", "", 3125}}, 0, false},
      {"logged out of order", "23:00:00", kLogged, 0,
       {{"23:10:00", "", 600000}, {"23:05:00", "", 600000}, {"23:04:00", "", 600000},
        {"23:20:00", "", 1200000}}, 2, false},
      {"loaded out of order", "23:00:00", kLoaded, 0,
       {{"23:10:00", "23:09:00", 540000}, {"23:20:00", "23:02:00", 540000}}, 1, false},
      {"across midnight", "23:55:00", kLogged, 0,
       {{"+00:03:00", "", 480000}, {"+01:00:00", "", 3900000}}, 0, false},
      {"loaded before midnight", "23:50:00", kLoaded, 0,
       {{"+00:02:00", "23:58:00", 480000}, {"+00:09:00", "+00:05:30", 930000}}, 0, false},
      {"the day before, 12 hours", "12:30:00", kLogged, 0,
       {{"+00:30:00", "", 43200000}}, 0, false},
      {"start after the first", "12:00:00", kLogged, 0,
       {{"+00:30:00", "", 0}, {"+12:00:01", "", 1000}}, 0, true},
      {"loaded, one without: at its logged time", "23:00:00", kLoaded, 0,
       {{"23:00:10", "22:59:00", 0}, {"23:05:00", "", 300000}}, 0, false},
      {"daylight saving time ends during the set", "01:50:00", kLoaded, 0,
       {{"02:00:00", "01:55:00", 300000, 2}, {"02:10:00", "02:05:00", 4500000, 1}}, 0, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingPoints points(*parseClock(c.start), c.at, c.shiftMs);
    std::vector<std::int64_t> got, expected;
    std::uint64_t withoutLoaded = 0;
    for (const Track& t : c.tracks) {
      Record record;
      record.time = at(t.logged);
      record.utcOffset = t.offsetHours ? std::optional(*t.offsetHours * 3600) : std::nullopt;
      if (*t.loaded) record.loaded = LocalStamp{at(t.loaded), record.utcOffset.value_or(0)};
      got.push_back(points.next(record));
      expected.push_back(t.point);
      withoutLoaded += c.at == kLoaded && !*t.loaded ? 1 : 0;
    }
    EXPECT_EQ(points.withoutLoaded(), withoutLoaded);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(points.movedUp(), c.movedUp);
    EXPECT_EQ(points.startAfterFirst(), c.startAfterFirst);
  }
}

// The start and the end taken on the day nearest the first and the last track.
TEST(RecordingPoints, StartAndEndAcrossMidnight) {
  struct Case {
    const char *start, *first, *last, *end;
    std::int64_t firstMs, lastMs;
    bool startAfterFirst;
    std::optional<std::int64_t> endMs;  // none: the end is refused
    int lastOffsetHours = 1;            // the first track's is 1
  };
  // clang-format off
  const Case cases[] = {
      {"00:00:05", "23:59:56", "+00:00:08", "00:10:00", 0, 3000, true, 595000},
      {"23:59:50", "+00:00:10", "+00:02:00", "00:05:00", 20000, 130000, false, 310000},
      {"22:00:00", "22:10:00", "23:30:00", "01:00:00", 600000, 5400000, false, 10800000},
      {"23:00:00", "+00:30:00", "+01:00:00", "23:59:59", 5400000, 7200000, false, std::nullopt},
      {"23:00:00", "23:10:00", "23:50:00", "23:49:59", 600000, 3000000, false, std::nullopt},
      {"23:00:00", "23:10:00", "23:50:00", "23:50:00", 600000, 3000000, false, 3000000},
      {"12:30:00", "+00:30:00", "+00:30:00", "12:30:00", 43200000, 43200000, false, 86400000},
      // Daylight saving time ends during the set: the clock goes back an hour.
      {"01:50:00", "01:55:00", "02:10:00", "02:20:00", 300000, 4800000, false, 5400000, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " " + c.first + " " + c.last + " " + c.end);
    RecordingPoints points(*parseClock(c.start), PointTime::kLogged, 0);
    Record first, last;
    first.time = at(c.first);
    first.utcOffset = 3600;
    last.time = at(c.last);
    last.utcOffset = c.lastOffsetHours * 3600;
    EXPECT_EQ(points.next(first), c.firstMs);
    EXPECT_EQ(points.next(last), c.lastMs);
    EXPECT_EQ(points.startAfterFirst(), c.startAfterFirst);
    EXPECT_EQ(endsBeforeLast(*parseClock(c.end), last.time), !c.endMs);
    if (c.endMs) {
      EXPECT_EQ(points.endMs(*parseClock(c.end)), *c.endMs);
    }
  }
}

}  // namespace
