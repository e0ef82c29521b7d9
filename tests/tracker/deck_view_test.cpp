#include "tracker/deck_view.h"

#include <gtest/gtest.h>

#include <vector>

#include "tracker/globals.h"

namespace {

// A block in memory, standing in for the mapped view.
class DeckView : public ::testing::Test {
 protected:
  void SetUp() override { pBuf = block_.data(); }
  void TearDown() override { pBuf = nullptr; }

  std::string utf8(int offset) {
    return readField(BlockView{block_.data()}, offset, Charset::kUtf8);
  }

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
  const int offsets[] = {kLeftFields.song,  kLeftFields.album,  kLeftFields.artist,
                         kRightFields.song, kRightFields.album, kRightFields.artist};
  const char* texts[] = {"Paper Harbour", "Night Ferries", "Marlow Tide",
                         "Song R",        "Album R",       "Artist R"};
  for (int i = 0; i < 6; ++i) putAscii(offsets[i], texts[i]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(getSSLText(offsets[i]), texts[i]);
}

TEST_F(DeckView, EmptyFieldAndLatinOne) {
  EXPECT_EQ(getSSLText(kLeftFields.song), "");
  put(kLeftFields.song, {'C', 0xE9, 'l', 0xE8, 'n', 'e', ' ', 0xA0, 0xFF, '~'});
  EXPECT_EQ(getSSLText(kLeftFields.song), "C\xE9l\xE8ne \xA0\xFF~");
}

TEST_F(DeckView, CharactersBeyondLatinOneBecomeOneQuestionMark) {
  // U+0100 and U+4E00 have a zero low byte; they must not end the text.
  put(kLeftFields.artist, {'a', 0x0100, 'b', 0x4E00, 0x4E01, 'c', 0x20AC});
  EXPECT_EQ(getSSLText(kLeftFields.artist), "a?b??c?");
  // A surrogate pair is one character; lone halves are one each.
  put(kLeftFields.artist, {'x', 0xD83C, 0xDFB5, 'y', 0xDC00, 'z', 0xD800, 'w', 0xD800});
  EXPECT_EQ(getSSLText(kLeftFields.artist), "x?y?z?w?");
}

TEST_F(DeckView, ControlCharactersBecomeBlanks) {
  put(kRightFields.song, {'a', '\r', '\n', 0x1B, '[', '2', 'J', 0x7F, 0x85, 0x9F, 0x01, 'b'});
  EXPECT_EQ(getSSLText(kRightFields.song), "a   [2J    b");
}

TEST_F(DeckView, AtMostOneHundredCodeUnits) {
  std::vector<unsigned> units(104, 'k');
  units[99] = 'E';
  put(kLeftFields.song, units, false);
  const std::string text = getSSLText(kLeftFields.song);
  EXPECT_EQ(text.size(), 100u);
  EXPECT_EQ(text.back(), 'E');
  // A pair whose low half would be the 101st unit is not read as a pair.
  units[99] = 0xD83C;
  units[100] = 0xDFB5;
  put(kLeftFields.song, units, false);
  EXPECT_EQ(getSSLText(kLeftFields.song), std::string(99, 'k') + "?");
  EXPECT_EQ(nBuf[100], '\0');
}

TEST_F(DeckView, NarrowBufferHoldsTheLastTextAsCString) {
  putAscii(kRightFields.artist, "A much longer artist name");
  putAscii(kLeftFields.song, "Short");
  getSSLText(kRightFields.artist);
  getSSLText(kLeftFields.song);
  EXPECT_STREQ(nBuf, "Short");
}

TEST_F(DeckView, Utf8KeepsEveryCharacter) {
  struct Case {
    std::vector<unsigned> units;
    const char* utf8;
  };
  const Case cases[] = {
      {{'C', 0xE9}, "C\xC3\xA9"},
      {{0x65E5, 0x672C}, "\xE6\x97\xA5\xE6\x9C\xAC"},  // CJK
      {{0xD83C, 0xDFB5}, "\xF0\x9F\x8E\xB5"},          // a pair: one character
      {{'a', 0xD800, 'b', 0xDC00},
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},                  // lone halves
      {{'\r', 0x1B, 0x85, 'x'}, "   x"},  // control characters
  };
  for (const Case& c : cases) {
    put(kLeftFields.song, c.units);
    EXPECT_EQ(utf8(kLeftFields.song), c.utf8);
  }
  std::vector<unsigned> units(104, 0x4E00);
  units[99] = 0xD83C;
  units[100] = 0xDFB5;
  put(kLeftFields.song, units, false);
  std::string expected;
  for (int i = 0; i < 99; ++i) expected += "\xE4\xB8\x80";
  EXPECT_EQ(utf8(kLeftFields.song), expected + "\xEF\xBF\xBD");
}

TEST_F(DeckView, ReadDeckGivesTheTextsOfEitherDeck) {
  putAscii(kLeftFields.song, "Paper Harbour (Extended Mix)");
  putAscii(kLeftFields.album, "Night Ferries");
  putAscii(kLeftFields.artist, "Marlow Tide");
  putAscii(kRightFields.song, "Glass Orchard");
  putAscii(kRightFields.artist, "The Lantern Quarter");
  const BlockView view{block_.data()};
  EXPECT_EQ(readDeck(view, Deck::kLeft),
            (Track{"Marlow Tide", "Paper Harbour (Extended Mix)", "Night Ferries"}));
  EXPECT_EQ(readDeck(view, Deck::kRight), (Track{"The Lantern Quarter", "Glass Orchard", ""}));
}
