#include "live/live_texts.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(LiveShown, TheTrackShownIsCleanedWithCleanAndItsTextFilledFromIt) {
  std::string words[] = {"live", "--clean"};
  char* argv[] = {words[0].data(), words[1].data()};
  Arguments clean(*findCommandDecl("live"));
  readCommandLine(2, argv, &clean);
  ASSERT_TRUE(clean.runs());
  const Track played{"A", "Song (Original Mix)", "Album [Explicit]"};
  for (const bool on : {false, true}) {
    const ShownTrack shown = showTrack(Deck::kRight, played, "t", "{song} / {album} {deck}",
                                       on ? TitleCleaning(clean) : TitleCleaning());
    EXPECT_EQ(shown.text, on ? "Song / Album R" : "Song (Original Mix) / Album [Explicit] R");
    EXPECT_EQ(shown.track, on ? Track({"A", "Song", "Album"}) : played);
    EXPECT_EQ(shown.time, "t");
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
