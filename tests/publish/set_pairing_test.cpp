// Pairing a playlist edited by hand with its set log: each playlist record finds the set
// log record of its deck and time, and an edit unpairs the edited records alone.
#include "publish/set_pairing.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// "L3 R4 L5": records on deck L or R, logged that many minutes after 22:00.
std::vector<Record> records(const std::string& text) {
  std::vector<Record> out;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    Record record;
    record.deck = word[0] == 'L' ? Deck::kLeft : Deck::kRight;
    const int minutes = std::stoi(word.substr(1));
    record.time.tm_min = minutes % 60;
    record.time.tm_hour = 22 + minutes / 60;
    record.time.tm_mday = 7;
    record.time.tm_mon = 11;
    record.time.tm_year = 126;
    record.track.artist = word;
    out.push_back(record);
  }
  return out;
}

// "L0 R1 ... " for minutes [from, to).
std::string run(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += (i % 2 == 0 ? " L" : " R") + std::to_string(i);
  return text;
}

TEST(SetLogPairing, AnEditUnpairsTheEditedRecordsAlone) {
  const std::string logged = run(0, 40);
  struct Case {
    const char* what;
    std::string setLog;
    std::string playlist;
    std::string unpaired;  // the playlist records without a partner, each after a space
  };
  const Case cases[] = {
      {"as written", logged, logged, ""},
      {"one deleted", logged, run(0, 7) + run(8, 40), ""},
      {"33 deleted, more than are looked ahead at", logged, run(0, 2) + run(35, 40), ""},
      {"all but the last deleted", logged, " R39", ""},
      {"one added", logged, run(0, 3) + " L3" + run(3, 40), " L3"},
      {"a deck changed", logged, run(0, 4) + " R4" + run(5, 40), " R4"},
      {"one moved later", logged, run(0, 3) + run(4, 6) + " R3" + run(6, 40), " R3"},
      {"the set log a record short", run(0, 39), logged, " R39"},
      {"two decks in one minute, swapped", "L0 R0 L1", "R0 L0 L1", " L0"},
      {"the clock set back an hour", "L50 R55 L10 R15", "L50 L10 R15", ""},
      {"another set's log", run(60, 100), logged, logged},
  };
  for (const Case& c : cases) {
    const std::vector<Record> setLog = records(c.setLog);
    std::size_t next = 0;
    SetLogPairing pairing([&](Record* record) {
      if (next == setLog.size()) return false;
      *record = setLog[next++];
      return true;
    });
    std::string unpaired;
    for (const Record& record : records(c.playlist)) {
      const Record* partner = pairing.partnerOf(record);
      if (partner == nullptr) {
        unpaired += " " + record.track.artist;
      } else {
        EXPECT_TRUE(sameDeckAndTime(*partner, record)) << c.what << ": " << record.track.artist;
      }
    }
    EXPECT_EQ(unpaired, c.unpaired) << c.what;
    EXPECT_EQ(pairing.drain(), setLog.size()) << c.what;
  }
}

}  // namespace
