#include "tracker/console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> result;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::optional<RunSettings> parse(std::vector<const char*> args, bool* parsed) {
  args.insert(args.begin(), "Zorvanthelix");
  return parseCommandLine(static_cast<int>(args.size()), args.data(), parsed);
}

}  // namespace

TEST(Banner, FourteenLinesFramedAt41Characters) {
  const auto rows = lines(kBanner);
  ASSERT_EQ(rows.size(), 14u);
  EXPECT_TRUE(rows.front().empty());
  EXPECT_TRUE(rows.back().empty());
  for (std::size_t i = 1; i < 13; ++i) EXPECT_EQ(rows[i].size(), 41u) << "row " << i + 1;
  const std::string frame = "+" + std::string(39, '-') + "+";
  for (std::size_t row : {2u, 5u, 7u, 13u}) EXPECT_EQ(rows[row - 1], frame);
  EXPECT_EQ(rows[2], "|          Zorvanthelix V0.1.1          |");
  EXPECT_EQ(rows[5], "| !!!!!!!    Use AT OWN RISK    !!!!!!! |");
  for (std::size_t row : {4u, 8u, 9u, 10u, 11u}) {
    EXPECT_EQ(rows[row - 1].front(), '|');
    EXPECT_EQ(rows[row - 1].back(), '|');
  }
  EXPECT_EQ(rows[11].substr(0, 9), "+---->   ");
  EXPECT_EQ(rows[11].substr(31), "   <-----+");
}

TEST(CommandLine, AutomodeWithoutArguments) {
  bool parsed = true;
  auto settings = parse({}, &parsed);
  ASSERT_TRUE(settings);
  EXPECT_FALSE(parsed);
  EXPECT_FALSE(settings->simple);
  EXPECT_EQ(settings->threshold, 10);
}

TEST(CommandLine, SimpleModeWithThreshold) {
  for (const char* option : {"-s", "--simple"}) {
    bool parsed = false;
    auto settings = parse({option, "15"}, &parsed);
    ASSERT_TRUE(settings) << option;
    EXPECT_TRUE(parsed);
    EXPECT_TRUE(settings->simple);
    EXPECT_EQ(settings->threshold, 15);
  }
  bool parsed = false;
  auto trailing = parse({"-s", "15abc"}, &parsed);
  ASSERT_TRUE(trailing);
  EXPECT_EQ(trailing->threshold, 15);
  auto one = parse({"--simple", " +1"}, &parsed);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->threshold, 1);
}

TEST(CommandLine, WrongLinesAreRejected) {
  bool parsed = true;
  EXPECT_FALSE(parse({"-s"}, &parsed));
  EXPECT_FALSE(parsed);
  EXPECT_FALSE(parse({"-s", "15", "x"}, &parsed));
  EXPECT_FALSE(parsed);
  // Two arguments reach the "parsing" stage before they are rejected.
  for (auto [option, value] :
       std::vector<std::pair<const char*, const char*>>{{"-S", "15"},
                                                        {"--Simple", "15"},
                                                        {"-x", "15"},
                                                        {"-s", "abc"},
                                                        {"-s", ""},
                                                        {"-s", "0"},
                                                        {"-s", "-3"},
                                                        {"-s", "2147483648"},
                                                        {"--simple", "99999999999"}}) {
    parsed = false;
    EXPECT_FALSE(parse({option, value}, &parsed)) << option << " " << value;
    EXPECT_TRUE(parsed);
  }
}

TEST(Console, AnnouncementsAndReport) {
  const std::string frame = "+" + std::string(39, '-') + "+\n";
  EXPECT_EQ(modeAnnouncement(RunSettings{}), frame + "\n");
  EXPECT_EQ(modeAnnouncement(RunSettings{true, 15}),
            frame + "\nusing simple mode with a threshold of\n15 seconds\n\n");
  EXPECT_EQ(trackReport(Deck::kRight, {"Marlow Tide", "Paper Harbour", ""}),
            "R Deck.Artist :Marlow Tide\n      .Song   :Paper Harbour\n      .Album  :\n\n");
}
