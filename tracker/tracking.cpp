#include "tracker/tracking.h"

#include <limits>
#include <utility>

namespace {

void report(DeckState& state, Deck deck, PollReports& reports) {
  state.lastLogged = state.current;
  reports.decks[reports.count] = deck;
  reports.tracks[reports.count++] = state.current;
}

// One deck's rule: a change of this deck may report the other deck (automode) or
// restart this deck's count (simple mode); a still deck reports itself when its count
// reaches the threshold.
void applyRule(const RunSettings& settings, DeckState& self, Deck selfDeck, DeckState& other,
               Deck otherDeck, PollReports& reports) {
  if (self.current != self.previous) {
    if (settings.simple) {
      self.stable = 0;
    } else if (other.current != other.lastLogged) {
      report(other, otherDeck, reports);
    }
    return;
  }
  // The count stops at the largest int instead of overflowing.
  if (self.stable < std::numeric_limits<int>::max()) ++self.stable;
  if (self.stable == settings.threshold && self.current != self.lastLogged) {
    report(self, selfDeck, reports);
  }
}

}  // namespace

PollReports poll(Tracking& tracking) {
  PollReports reports;
  applyRule(tracking.settings, tracking.left, Deck::kLeft, tracking.right, Deck::kRight, reports);
  applyRule(tracking.settings, tracking.right, Deck::kRight, tracking.left, Deck::kLeft, reports);
  tracking.left.previous = tracking.left.current;
  tracking.right.previous = tracking.right.current;
  return reports;
}

PollReports poll(Tracking& tracking, Track left, Track right) {
  tracking.left.current = std::move(left);
  tracking.right.current = std::move(right);
  return poll(tracking);
}

void noteLoad(LoadTimes& loads, Deck deck, const Track& track, std::time_t now) {
  const auto index = static_cast<std::size_t>(deck);
  if (loads.since[index] != 0 && loads.seen[index] == track) return;
  loads.seen[index] = track;
  loads.since[index] = now;
}
