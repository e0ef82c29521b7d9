#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace {

// Hex digits of JSON's \u escapes, URLs' %XX and the stand-in's scripts: either case, and
// -1 for a short text or a byte that is no hex digit.
TEST(Ascii, ReadsHexDigits) {
  struct Case {
    std::string_view text;
    std::size_t count;
    long value;
  };
  const Case cases[] = {
      {"00e9", 4, 0xE9}, {"FFFFx", 4, 0xFFFF}, {"fB", 2, 0xFB}, {"2", 2, -1},
      {"0g", 2, -1},     {"+1", 2, -1},        {"", 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::readHex(c.text, c.count), c.value) << c.text;
}

// Only ASCII capitals change: Latin-1 and UTF-8 bytes stay as they are.
TEST(Ascii, LowersAsciiLettersOnly) {
  EXPECT_EQ(platform::asciiLower("StUdIo-PC.LAN"), "studio-pc.lan");
  EXPECT_EQ(platform::asciiLower("\xC3\x89T\xC9"), "\xC3\x89t\xC9");
  EXPECT_TRUE(platform::equalsIgnoringCase("HTTPS", "https"));
  EXPECT_FALSE(platform::equalsIgnoringCase("http", "https"));
  EXPECT_FALSE(platform::equalsIgnoringCase("[", "{"));
}

}  // namespace
