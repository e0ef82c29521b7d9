#include "tracker/tracking.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const Track kEmpty{};
const Track kA{"Artist A", "Song A", "Album A"};
const Track kB{"Artist B", "Song B", "Album B"};
const Track kC{"Artist C", "Song C", "Album C"};
const Track kD{"Artist D", "Song D", "Album D"};

// Drives the rules poll by poll and writes down what each poll reports.
class Rules {
 public:
  explicit Rules(RunSettings settings) : tracking_{settings, {}, {}} {}

  // One poll with the given deck texts: the reports as "L:<song>" / "R:<song>".
  std::vector<std::string> poll(const Track& left, const Track& right) {
    tracking_.left.current = left;
    tracking_.right.current = right;
    const PollReports reports = ::poll(tracking_);
    std::vector<std::string> result;
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      const DeckState& state = deck == Deck::kLeft ? tracking_.left : tracking_.right;
      EXPECT_EQ(state.lastLogged, state.current);
      EXPECT_EQ(reports.tracks[i], state.current);
      result.push_back(std::string(deckLetter(deck)) + ":" + state.current.song);
    }
    return result;
  }

  // Polls n times with the same texts; the reports of all of them.
  std::vector<std::string> hold(int n, const Track& left, const Track& right) {
    std::vector<std::string> all;
    for (int i = 0; i < n; ++i) {
      for (auto& r : poll(left, right)) all.push_back(r);
    }
    return all;
  }

 private:
  Tracking tracking_;
};

using Reports = std::vector<std::string>;
const RunSettings kAuto{};
RunSettings simple(int threshold) { return {true, threshold}; }

}  // namespace

TEST(Automode, BothDecksLoadedAtStartReportRightThenLeft) {
  Rules rules(kAuto);
  EXPECT_EQ(rules.poll(kA, kB), (Reports{"R:Song B", "L:Song A"}));
  EXPECT_EQ(rules.hold(20, kA, kB), Reports{});
}

TEST(Automode, ADeckIsReportedWhenTheOtherChanges) {
  Rules rules(kAuto);
  EXPECT_EQ(rules.poll(kA, kB), (Reports{"R:Song B", "L:Song A"}));
  EXPECT_EQ(rules.poll(kA, kC), Reports{});  // A was logged already
  EXPECT_EQ(rules.poll(kD, kC), Reports{"R:Song C"});
  EXPECT_EQ(rules.poll(kD, kA), Reports{"L:Song D"});
  // Both change in one poll: the right deck's new track first, then the left one's.
  EXPECT_EQ(rules.poll(kB, kD), (Reports{"R:Song D", "L:Song B"}));
}

TEST(Automode, ALeftChangeSeenHalfWayCountsAsChange) {
  Rules rules(kAuto);
  rules.poll(kA, kB);
  Track half = kC;
  half.album = "Alb";  // caught while the application was still writing it
  EXPECT_EQ(rules.poll(half, kB), Reports{});
  EXPECT_EQ(rules.poll(kC, kB), Reports{});
  // Only the finished texts are ever logged.
  EXPECT_EQ(rules.poll(kC, kD), (Reports{"L:Song C"}));
}

TEST(Automode, TenthUnchangedPollRule) {
  Rules rules(kAuto);
  // Empty decks for three polls, then a track on the left in the fourth poll: the
  // left deck's tenth unchanged poll is the eleventh poll.
  EXPECT_EQ(rules.hold(3, kEmpty, kEmpty), Reports{});
  EXPECT_EQ(rules.poll(kA, kEmpty), Reports{});
  EXPECT_EQ(rules.hold(6, kA, kEmpty), Reports{});
  EXPECT_EQ(rules.poll(kA, kEmpty), Reports{"L:Song A"});
  // The counter is never reset in automode, so the rule fires only once.
  EXPECT_EQ(rules.poll(kB, kEmpty), Reports{});
  EXPECT_EQ(rules.hold(30, kB, kEmpty), Reports{});
}

TEST(Automode, TrackLoadedAfterTheTenthPollIsNotReportedByCounting) {
  Rules rules(kAuto);
  EXPECT_EQ(rules.hold(11, kEmpty, kEmpty), Reports{});
  EXPECT_EQ(rules.hold(30, kEmpty, kA), Reports{});
  EXPECT_EQ(rules.poll(kB, kA), Reports{"R:Song A"});
}

TEST(Automode, EmptiedDeckIsReportedWithEmptyTexts) {
  Rules rules(kAuto);
  rules.poll(kA, kB);
  EXPECT_EQ(rules.poll(kA, kEmpty), Reports{});
  EXPECT_EQ(rules.poll(kC, kEmpty), Reports{"R:"});
  // A deck empty from the start is never reported.
  Rules fresh(kAuto);
  for (int i = 0; i < 30; ++i) {
    for (const auto& report : fresh.poll(i % 2 ? kA : kB, kEmpty)) {
      EXPECT_EQ(report.substr(0, 2), "L:");
    }
  }
}

TEST(Automode, ReturningTrackIsNotReportedAgainButTheOtherDeckKeepsItsOwn) {
  Rules rules(kAuto);
  rules.poll(kA, kB);
  EXPECT_EQ(rules.poll(kC, kB), Reports{});
  EXPECT_EQ(rules.poll(kA, kB), Reports{});
  // A, already logged for the left deck, stands on the right deck now.
  EXPECT_EQ(rules.poll(kA, kA), Reports{});
  EXPECT_EQ(rules.poll(kD, kA), Reports{"R:Song A"});
}

TEST(SimpleMode, ReportedOnceTheDeckStaysForTheThreshold) {
  Rules rules(simple(15));
  EXPECT_EQ(rules.poll(kA, kEmpty), Reports{});  // the change
  EXPECT_EQ(rules.hold(14, kA, kEmpty), Reports{});
  EXPECT_EQ(rules.poll(kA, kEmpty), Reports{"L:Song A"});
  EXPECT_EQ(rules.hold(100, kA, kEmpty), Reports{});
}

TEST(SimpleMode, AChangeRestartsTheCountAndTheOtherDeckPlaysNoPart) {
  Rules rules(simple(3));
  rules.poll(kA, kB);
  EXPECT_EQ(rules.hold(2, kA, kB), Reports{});
  EXPECT_EQ(rules.poll(kC, kB), Reports{"R:Song B"});
  EXPECT_EQ(rules.hold(2, kC, kB), Reports{});
  EXPECT_EQ(rules.poll(kD, kB), Reports{});  // C never stood for three polls
  EXPECT_EQ(rules.hold(2, kD, kB), Reports{});
  EXPECT_EQ(rules.poll(kD, kB), Reports{"L:Song D"});
}

TEST(SimpleMode, BothDecksReachTheThresholdInOnePoll) {
  Rules rules(simple(1));
  EXPECT_EQ(rules.poll(kA, kB), Reports{});
  EXPECT_EQ(rules.poll(kA, kB), (Reports{"L:Song A", "R:Song B"}));
}

TEST(SimpleMode, EmptiedDeckAndReturnToLastLogged) {
  Rules rules(simple(2));
  rules.poll(kA, kEmpty);
  EXPECT_EQ(rules.hold(2, kA, kEmpty), Reports{"L:Song A"});
  rules.poll(kEmpty, kEmpty);
  EXPECT_EQ(rules.hold(2, kEmpty, kEmpty), Reports{"L:"});
  rules.poll(kEmpty, kEmpty);
  // Back to A after the empty deck was logged: A is new again for this deck.
  rules.poll(kA, kEmpty);
  EXPECT_EQ(rules.hold(2, kA, kEmpty), Reports{"L:Song A"});
  rules.poll(kB, kEmpty);
  rules.poll(kA, kEmpty);  // back to the last-logged track before B was logged
  EXPECT_EQ(rules.hold(5, kA, kEmpty), Reports{});
}

// A deck's load time is the poll that first saw it hold its track: kept while the track
// stays, renewed by every change, a return to an earlier track included.
TEST(LoadTimes, FirstPollThatSawTheTrack) {
  const Track a{"A", "a", "1"};
  const Track b{"B", "b", "2"};
  const struct {
    Track left;
    Track right;
    std::time_t leftLoaded;
    std::time_t rightLoaded;
  } polls[] = {
      {a, {}, 100, 100}, {a, b, 100, 101}, {b, b, 102, 101}, {a, b, 103, 101}, {a, {}, 103, 104},
  };
  LoadTimes loads;
  std::time_t now = 100;
  for (const auto& p : polls) {
    SCOPED_TRACE(now);
    noteLoad(loads, Deck::kLeft, p.left, now);
    noteLoad(loads, Deck::kRight, p.right, now);
    EXPECT_EQ(loadedAt(loads, Deck::kLeft), p.leftLoaded);
    EXPECT_EQ(loadedAt(loads, Deck::kRight), p.rightLoaded);
    ++now;
  }
}
