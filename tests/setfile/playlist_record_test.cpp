#include "setfile/playlist_record.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// What the tracker writes, setlist reads back: time, deck and texts (these in UTF-8).
TEST(RecordFormat, WrittenRecordsReadBack) {
  struct Case {
    Deck deck;
    Track written;
    Track read;
  };
  const Case cases[] = {
      {Deck::kLeft,
       {"Marlow Tide", "Paper Harbour", "Night Ferries"},
       {"Marlow Tide", "Paper Harbour", "Night Ferries"}},
      {Deck::kRight, {"", "", ""}, {"", "", ""}},
      {Deck::kRight, {"12\" Crew", "a;b", "\"c\""}, {"12\" Crew", "a;b", "\"c\""}},
      {Deck::kLeft, {"Bruno Calv\xE9", "\xFF", "x"}, {"Bruno Calv\xC3\xA9", "\xC3\xBF", "x"}},
  };
  std::tm time{};
  time.tm_year = 2026 - 1900;
  time.tm_mon = 11;
  time.tm_mday = 31;
  time.tm_hour = 23;
  time.tm_min = 59;
  time.tm_sec = 7;
  for (const Case& c : cases) {
    const std::string line = formatRecord(time, c.deck, c.written);
    SCOPED_TRACE(line);
    Record record;
    ASSERT_EQ(parseLine(line, &record), LineKind::kRecord);
    EXPECT_EQ(record.track, c.read);
    EXPECT_EQ(record.deck, c.deck);
    EXPECT_FALSE(record.ambiguous);
    EXPECT_EQ(formatRecord(record.time, c.deck, {}), formatRecord(time, c.deck, {}));
  }
}

}  // namespace
