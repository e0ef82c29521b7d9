#include "tracker/deck_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tracker/tracking.h"

namespace {

// A block in memory, standing in for the mapped view.
class DeckView : public ::testing::Test {
 protected:
  void SetUp() override { pBuf = block_.data(); }
  void TearDown() override { pBuf = nullptr; }

  // Writes code units at offset, followed by a zero unit.
  void put(int offset, const std::vector<unsigned>& units, bool terminate = true) {
    std::size_t at = static_cast<std::size_t>(offset);
    for (unsigned unit : units) {
      block_[at++] = static_cast<char>(unit & 0xFF);
      block_[at++] = static_cast<char>(unit >> 8);
    }
    if (terminate) block_[at] = block_[at + 1] = 0;
  }

  void putAscii(int offset, std::string_view text) {
    put(offset, std::vector<unsigned>(text.begin(), text.end()));
  }

  std::vector<char> block_ = std::vector<char>(4096, 0);
};

}  // namespace

TEST_F(DeckView, NamesOfTheBlock) {
  EXPECT_STREQ(szName, "Global\\ssl_sharing");
  EXPECT_STREQ(szNameAlternative, "Local\\ssl_sharing");
}

TEST_F(DeckView, ReadsEachFieldAtItsOffset) {
  const int offsets[] = {kLeftSong, kLeftAlbum, kLeftArtist, kRightSong, kRightAlbum, kRightArtist};
  const char* texts[] = {"Paper Harbour", "Night Ferries", "Marlow Tide",
                         "Song R",        "Album R",       "Artist R"};
  for (int i = 0; i < 6; ++i) putAscii(offsets[i], texts[i]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(getSSLText(offsets[i]), texts[i]);
}

TEST_F(DeckView, EmptyFieldAndLatinOne) {
  EXPECT_EQ(getSSLText(kLeftSong), "");
  put(kLeftSong, {'C', 0xE9, 'l', 0xE8, 'n', 'e', ' ', 0xA0, 0xFF, '~'});
  EXPECT_EQ(getSSLText(kLeftSong), "C\xE9l\xE8ne \xA0\xFF~");
}

TEST_F(DeckView, CharactersBeyondLatinOneBecomeOneQuestionMark) {
  // U+0100 and U+4E00 have a zero low byte; they must not end the text.
  put(kLeftArtist, {'a', 0x0100, 'b', 0x4E00, 0x4E01, 'c', 0x20AC});
  EXPECT_EQ(getSSLText(kLeftArtist), "a?b??c?");
  // A surrogate pair is one character; lone halves are one each.
  put(kLeftArtist, {'x', 0xD83C, 0xDFB5, 'y', 0xDC00, 'z', 0xD800, 'w', 0xD800});
  EXPECT_EQ(getSSLText(kLeftArtist), "x?y?z?w?");
}

TEST_F(DeckView, ControlCharactersBecomeBlanks) {
  put(kRightSong, {'a', '\r', '\n', 0x1B, '[', '2', 'J', 0x7F, 0x85, 0x9F, 0x01, 'b'});
  EXPECT_EQ(getSSLText(kRightSong), "a   [2J    b");
}

TEST_F(DeckView, AtMostOneHundredCodeUnits) {
  std::vector<unsigned> units(104, 'k');
  units[99] = 'E';
  put(kLeftSong, units, false);
  const std::string text = getSSLText(kLeftSong);
  EXPECT_EQ(text.size(), 100u);
  EXPECT_EQ(text.back(), 'E');
  // A pair whose low half would be the 101st unit is not read as a pair.
  units[99] = 0xD83C;
  units[100] = 0xDFB5;
  put(kLeftSong, units, false);
  EXPECT_EQ(getSSLText(kLeftSong), std::string(99, 'k') + "?");
  EXPECT_EQ(nBuf[100], '\0');
}

TEST_F(DeckView, NarrowBufferHoldsTheLastTextAsCString) {
  putAscii(kRightArtist, "A much longer artist name");
  putAscii(kLeftSong, "Short");
  getSSLText(kRightArtist);
  getSSLText(kLeftSong);
  EXPECT_STREQ(nBuf, "Short");
}

TEST_F(DeckView, EachKindOfUnitAtEveryPositionOfARun) {
  // Plain ASCII is narrowed several units at a time; a unit of another kind must be
  // treated by its own rule wherever it falls within or after such a run.
  struct Kind {
    std::vector<unsigned> units;
    std::string narrowed;
    bool ends;  // the unit ends the text
  };
  const Kind kinds[] = {
      {{0x20}, " ", false},    {{0x7E}, "~", false},           {{0x7F}, " ", false},
      {{0x1F}, " ", false},    {{0x09}, " ", false},           {{0x9F}, " ", false},
      {{0xA0}, "\xA0", false}, {{0xE9}, "\xE9", false},        {{0xFF}, "\xFF", false},
      {{0x0141}, "?", false},  {{0xFF21}, "?", false},         {{0x2041}, "?", false},
      {{0x4E00}, "?", false},  {{0xD83C, 0xDFB5}, "?", false}, {{0xDC00}, "?", false},
      {{0x0000}, "", true},
  };
  for (const Kind& kind : kinds) {
    for (std::size_t before = 0; before <= 12; ++before) {
      std::vector<unsigned> units(before, 'a');
      units.insert(units.end(), kind.units.begin(), kind.units.end());
      units.insert(units.end(), 9, 'z');
      put(kLeftAlbum, units);
      std::string expected(before, 'a');
      if (!kind.ends) expected += kind.narrowed + std::string(9, 'z');
      EXPECT_EQ(getSSLText(kLeftAlbum), expected)
          << "unit " << std::hex << kind.units[0] << " after " << std::dec << before;
    }
  }
}

TEST_F(DeckView, IntoAnExistingStringGivesTheSameTextInItsStorage) {
  putAscii(kRightAlbum, "Tidewater Sessions Vol. 2, Remastered");
  put(kLeftSong, {'C', 0xE9, 0x4E00, 0x07});
  std::string text;
  text.reserve(150);
  const char* const storage = text.data();
  getSSLTextInto(kRightAlbum, text);
  EXPECT_EQ(text, getSSLText(kRightAlbum));
  getSSLTextInto(kLeftSong, text);
  EXPECT_EQ(text, "C\xE9? ");
  EXPECT_STREQ(nBuf, "C\xE9? ");
  getSSLTextInto(kRightSong, text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(text.data(), storage);  // refilled, never reallocated
}

TEST_F(DeckView, ReadDeckRefillsTheTextsOfEitherDeck) {
  putAscii(kLeftSong, "Paper Harbour (Extended Mix)");
  putAscii(kLeftAlbum, "Night Ferries");
  putAscii(kLeftArtist, "Marlow Tide");
  putAscii(kRightSong, "Glass Orchard");
  putAscii(kRightArtist, "The Lantern Quarter");
  const DeckTexts left{"Paper Harbour (Extended Mix)", "Night Ferries", "Marlow Tide"};
  const DeckTexts right{"Glass Orchard", "", "The Lantern Quarter"};
  EXPECT_EQ(readDeck(false), left);
  EXPECT_EQ(readDeck(true), right);
  DeckTexts texts = left;  // the left deck's texts, refilled with the right deck's
  readDeck(true, texts);
  EXPECT_EQ(texts, right);
  readDeck(false, texts);
  EXPECT_EQ(texts, left);
}
