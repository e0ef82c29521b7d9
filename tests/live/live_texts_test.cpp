#include <gtest/gtest.h>

#include <string>

#include "live/live_texts.h"

namespace {

TEST(LiveFormat, RefusesWhatItCannotFillAndFillsTheRest) {
  const Track track{"A{b}", "S}", "Al"};
  struct Case {
    std::string format;
    std::string fault;   // a part of the message; empty: no fault
    std::string filled;  // for a format without a fault
  };
  const Case cases[] = {
      {"{artist} - {song}", "", "A{b} - S}"},
      {"{{{deck}}} {album}{album}", "", "{R} AlAl"},
      {"{{artist}}", "", "{artist}"},
      {"}}{{", "", "}{"},
      {"", "", ""},
      {"{Artist}", "unknown placeholder {Artist}", ""},
      {"{artist} {year}", "unknown placeholder {year}", ""},
      {"{}", "unknown placeholder {}", ""},
      {"{artist", "a lone {", ""},
      {"{a{song}", "a lone {", ""},
      {"{{{", "a lone {", ""},
      {"song}", "a lone }", ""},
      {"{song}}", "a lone }", ""},
  };
  for (const Case& c : cases) {
    const std::string fault = formatFault(c.format);
    if (c.fault.empty()) {
      EXPECT_EQ(fault, "") << c.format;
      EXPECT_EQ(formatTrack(c.format, Deck::kRight, track), c.filled) << c.format;
    } else {
      EXPECT_NE(fault.find(c.fault), std::string::npos) << c.format << ": " << fault;
    }
  }
}

TEST(LiveJson, EscapesWhatAPageOrAParserWouldMisread) {
  const ShownTrack onAir{
      Deck::kLeft,
      {"<script>\"x\"&</script>", "a\\b\tc\xE2\x80\xA8", "\xE5\xAE\x87 \xF0\x9F\x8E\xB5"},
      "2026-12-08T21:04:05",
      "line"};
  EXPECT_EQ(nowPlayingJson(&onAir, nullptr),
            R"({"deck":"L","artist":"\u003cscript\u003e\"x\"\u0026\u003c/script\u003e",)"
            R"("song":"a\\b\u0009c\u2028","album":"宇 🎵","time":"2026-12-08T21:04:05",)"
            R"("text":"line","previous":null})");
  EXPECT_EQ(setJson({}), "[]\n");
  EXPECT_EQ(setJson({onAir, onAir}).find("\"text\""), std::string::npos);
}

}  // namespace
