#include "setfile/text.h"

#include <gtest/gtest.h>

namespace {

// Characters counted and cut in UTF-8: one-, two-, three- and four-byte characters, and a
// cut that never falls inside one.
TEST(Text, CountsAndCutsUtf8Characters) {
  struct Case {
    std::string_view text;
    std::size_t characters;
    std::size_t keep;
    std::size_t prefix;  // bytes of the first `keep` characters
  };
  const Case cases[] = {
      {"", 0, 3, 0},
      {"abc", 3, 2, 2},
      {"abc", 3, 5, 3},
      {"Zo\xC3\xAB", 3, 3, 4},                        // Zoë
      {"\xC3\xA9t\xC3\xA9", 3, 1, 2},                 // été
      {"\xE2\x80\xA6x", 2, 1, 3},                     // …x
      {"\xF0\x9F\x8E\xB5\xF0\x9F\x8E\xB5", 2, 1, 4},  // two U+1F3B5
      {"a\xF0\x9F\x8E\xB5", 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(utf8Characters(c.text), c.characters);
    EXPECT_EQ(utf8Prefix(c.text, c.keep), c.prefix);
  }
}

// Comma lists of --tags and --to: blanks around an item go, empty items are left out.
TEST(Text, SplitsCommaLists) {
  using List = std::vector<std::string>;
  EXPECT_EQ(splitList(""), List{});
  EXPECT_EQ(splitList("a"), List{"a"});
  EXPECT_EQ(splitList("lastfm,listenbrainz"), (List{"lastfm", "listenbrainz"}));
  EXPECT_EQ(splitList(" deep house , ,techno,"), (List{"deep house", "techno"}));
  EXPECT_EQ(splitList(",, "), List{});
}

}  // namespace
