// Titles cleaned for show: the built-in phrases, the user's phrases, patterns and hide
// rules as the settings file gives them, and idempotence over every case.
#include "publish/title_clean.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "cli/settings.h"

// A track in a failure's message.
void PrintTo(const Track& track, std::ostream* out) {
  *out << '{' << track.artist << " | " << track.song << " | " << track.album << '}';
}

namespace {

// The rules of a settings file's text.
CleanRules rulesOf(const std::string& toml) {
  CleanRules rules;
  const auto parsed = parseSettings(toml, "t.toml", &rules);
  EXPECT_TRUE(parsed) << parsed.error().text;
  return rules;
}

TEST(TitleClean, BuiltInPhrasesComeOffTheEndAndNothingElse) {
  const struct {
    std::string title, cleaned;
  } cases[] = {
      {"Song (Original Mix)", "Song"},
      {"Song (feat. X) (Original Mix)", "Song (feat. X)"},
      {"Song (Clean) (Original Mix)", "Song"},
      {"Song [EXPLICIT] - dirty", "Song"},
      {"Song - Remastered 2011", "Song"},
      {"Song (2009 Remaster) \u2013 Clean", "Song"},
      {"Song (Official Music Video) [HD]", "Song"},
      {"Song (Official Audio) [4K]", "Song"},
      {"Song ( clean  version )", "Song"},
      {"Song - Remastered 20111", "Song - Remastered 20111"},
      {"Song (Cleaner)", "Song (Cleaner)"},
      {"Clean Bandit - Song", "Clean Bandit - Song"},
      {"Song (Clean) Live", "Song (Clean) Live"},
      // Never removed by default.
      {"Song (Extended Mix)", "Song (Extended Mix)"},
      {"Song (Radio Edit)", "Song (Radio Edit)"},
      {"Song (X Remix) - Remix", "Song (X Remix) - Remix"},
      {"Song (feat. X)", "Song (feat. X)"},
      // A file's name loses its extension; a title with a point keeps it.
      {"Track.mp3", "Track"},
      {"01 Song (Original Mix).FLAC", "01 Song"},
      {"Song.m4a.wav", "Song"},
      {"Mr. Brightside", "Mr. Brightside"},
      {"Song .mp3", "Song .mp3"},
      {".mp3", ".mp3"},
      // Japanese brackets are not the phrases' brackets.
      {"\u3010MV\u3011\u5922 \u3010Clean\u3011", "\u3010MV\u3011\u5922 \u3010Clean\u3011"},
      // Tidy: no empty brackets, stray dashes or double spaces.
      {"  Song  ()  -  ", "Song"},
      {"- Song - - B [ ]", "Song - B"},
      // A title that would be empty stays as it was.
      {"(Clean)", "(Clean)"},
      {"[Original Mix]", "[Original Mix]"},
      {" - Original Mix", "Original Mix"},
      {"", ""},
  };
  const CleanRules none;
  for (const auto& c : cases) {
    const std::string cleaned = cleanTitle(c.title, none);
    EXPECT_EQ(cleaned, c.cleaned) << c.title;
    EXPECT_EQ(cleanTitle(cleaned, none), cleaned) << c.title;
  }
}

TEST(TitleClean, UserPhrasesPatternsAndHideRules) {
  const CleanRules rules = rulesOf(
      "[clean]\nphrases = [\"Label\", \"free  DOWNLOAD\", \"\u30e9\u30a4\u30d6\"]\n"
      "patterns = ['\\s*\\[[^\\]]*Records\\]', '^\\d+\\s*-\\s*', 'q|qz']\n"
      "hide = \"unreleased|^DJ Secret - \"\n");
  const std::string longTitle = std::string(300, 'x') + " [Big Records] (Original Mix)";
  const struct {
    Track track, shown;
  } cases[] = {
      {{"A", "Song [Label] - Remastered 2011", ""}, {"A", "Song", ""}},
      {{"A", "Song [Big Records] (Original Mix)", ""}, {"A", "Song", ""}},
      {{"A", "01 - Song [Free Download]", "Album (Remastered)"}, {"A", "Song", "Album"}},
      {{"A", "Song (\u30e9\u30a4\u30d6)", ""}, {"A", "Song", ""}},
      {{"A", "Label", ""}, {"A", "Label", ""}},
      // The longest alternative: "qz", not "q".
      {{"A", "xqzy", ""}, {"A", "xy", ""}},
      {{"A", "[X Records]", ""}, {"A", "[X Records]", ""}},
      // Past what a pattern sees, the phrases alone.
      {{"A", longTitle, ""}, {"A", std::string(300, 'x') + " [Big Records]", ""}},
      {{"A", "Song (Unreleased Dub)", "Promo"}, {"ID", "ID", ""}},
      {{"DJ Secret", "Track 3", ""}, {"ID", "ID", ""}},
      {{"", "DJ Secret - Track 3", ""}, {"ID", "ID", ""}},
      {{"Not DJ Secret", "Track", ""}, {"Not DJ Secret", "Track", ""}},
  };
  for (const auto& c : cases) {
    const Track shown = cleanTrack(c.track, rules);
    EXPECT_EQ(shown, c.shown) << c.track.song;
    EXPECT_EQ(cleanTrack(shown, rules), shown) << c.track.song;
  }
}

}  // namespace
