#include "publish/track_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Played {
  std::int64_t minute;
  const char* artist;
  const char* album;
};

// "#n <rule>" for every rule each track breaks, tracks numbered from 1.
std::vector<std::string> brokenRules(const std::vector<Played>& set) {
  RuleHistory history;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const RuleTrack track{set[i].minute * 60, set[i].artist, "Song", set[i].album};
    for (const BrokenRule& rule : history.check(track)) {
      std::string line = "#";
      lines.push_back(line.append(std::to_string(i + 1)).append(" ").append(describeRule(rule)));
    }
    history.add(track);
  }
  return lines;
}

TEST(TrackRules, EachLimit) {
  struct Case {
    const char* name;
    std::vector<Played> set;
    std::vector<std::string> broken;
  };
  // clang-format off
  const Case cases[] = {
      {"4 by one artist pass", {{0, "Moderat", ""}, {5, "X", ""}, {10, "Moderat", ""}, {15, "Y", ""},
        {20, "Moderat", ""}, {25, "Z", ""}, {30, "Moderat", ""}}, {}},
      {"the 5th breaks", {{0, "Moderat", ""}, {5, "X", ""}, {10, "Moderat", ""}, {15, "Y", ""},
        {20, "Moderat", ""}, {25, "Z", ""}, {30, "Moderat", ""}, {35, "W", ""}, {40, "Moderat", ""},
        {45, "Moderat", ""}},
       {"#9 5th track by Moderat within 3 hours (at most 4)",
        "#10 6th track by Moderat within 3 hours (at most 4)"}},
      {"3 in a row pass, the 4th breaks",
       {{0, "Moderat", ""}, {5, "moderat", ""}, {10, " MODERAT ", ""}, {15, "Moderat", ""}},
       {"#4 4th track in a row by Moderat (at most 3)"}},
      {"3 from one album pass, the 4th breaks",
       {{0, "A", "Kingdom"}, {5, "B", ""}, {10, "C", "kingdom "}, {15, "D", "Other"},
        {20, "E", "Kingdom"}, {25, "F", "Other"}, {30, "G", "KINGDOM"}},
       {"#7 4th track from KINGDOM within 3 hours (at most 3)"}},
      {"2 in a row from one album pass, the 3rd breaks",
       {{0, "A", "Kingdom"}, {5, "B", "Kingdom"}, {10, "C", ""}, {15, "D", "Other"},
        {20, "E", "Other"}, {25, "F", "Other"}},
       {"#6 3rd track in a row from Other (at most 2)"}},
      {"empty albums count for nothing", {{0, "A", ""}, {5, "B", " "}, {10, "C", ""}}, {}},
      {"the window slides past three hours: #8 passes, #10 breaks",
       {{0, "Moderat", ""}, {60, "Moderat", ""}, {61, "X", ""}, {90, "Moderat", ""}, {91, "X", ""},
        {120, "Moderat", ""}, {121, "X", ""}, {180, "Moderat", ""}, {181, "X", ""},
        {239, "Moderat", ""}},
       {"#10 5th track by Moderat within 3 hours (at most 4)"}},
      {"featuring artists count too",
       {{0, "Apparat feat. Moderat", ""}, {5, "X", ""}, {10, "Modeselektor (ft. Moderat)", ""},
        {15, "Y", ""}, {20, "Moderat featuring Apparat", ""}, {25, "Z", ""},
        {30, "Modeselektor [Feat. Moderat]", ""}, {35, "W", ""}, {40, "Bonobo ft. moderat", ""},
        {45, "Moderat", ""}},
       {"#9 5th track by moderat within 3 hours (at most 4)",
        "#10 6th track by Moderat within 3 hours (at most 4)"}},
      {"featuring in a row", {{0, "A ft. B", ""}, {5, "B", ""}, {10, "C featuring b", ""},
        {15, "b feat. b", ""}},
       {"#4 4th track in a row by b (at most 3)"}},
      {"words that only look like featuring", {{0, "Left Foot", ""}, {5, "Raft.", ""},
        {10, "Featuring", ""}, {15, "Feat.Nobody", ""}}, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(brokenRules(c.set), c.broken);
  }
}

TEST(TrackRules, NamesAndOrdinals) {
  EXPECT_EQ(artistsOf(" A feat. B ft. C (featuring D) "),
            (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(foldName("  ÉLAN Björk ΣΩ ЖЁ "), "élan björk σω жё");
  for (const auto& [count, text] : std::vector<std::pair<std::uint64_t, std::string>>{
           {1, "1st"}, {2, "2nd"}, {3, "3rd"}, {11, "11th"}, {12, "12th"}, {22, "22nd"}}) {
    EXPECT_EQ(describeRule({RuleKind::kArtist, "X", count, 4}).substr(0, text.size() + 1),
              text + " ");
  }
}

TEST(TrackRules, LoadWarningsOncePerLoadCountingReportedTracks) {
  LoadWarnings warnings;
  const Track moderat{"Moderat", "Song", ""};
  const Track other{"Other", "Tune", ""};
  const Track none;
  PollReports reports;
  std::vector<std::string> told;
  // Three Moderat tracks reported; the fourth loaded on R would be the 4th in a row.
  for (int i = 0; i < 3; ++i) {
    reports = {1, {Deck::kLeft, Deck::kLeft}, {moderat, moderat}};
    EXPECT_EQ(warnings.poll(moderat, none, reports, i * 60), told);
  }
  reports = {};
  const std::vector<std::string> line = {
      "R deck: Moderat - Song would be the 4th track in a row by Moderat (at most 3)"};
  EXPECT_EQ(warnings.poll(moderat, moderat, reports, 200), line);
  EXPECT_EQ(warnings.poll(moderat, moderat, reports, 201), told);  // the same load
  EXPECT_EQ(warnings.poll(moderat, other, reports, 202), told);
  EXPECT_EQ(warnings.poll(moderat, moderat, reports, 203), line);  // loaded again
  // Loaded and reported in one poll (both decks changed at once): played, not next.
  reports = {1, {Deck::kRight, Deck::kRight}, {moderat, moderat}};
  EXPECT_EQ(warnings.poll(moderat, other, {}, 204), told);
  EXPECT_EQ(warnings.poll(moderat, moderat, reports, 205), told);
}

}  // namespace
