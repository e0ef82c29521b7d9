// The rules that decide, poll by poll, when a deck's track has been played.
#pragma once

#include <ctime>

#include "setfile/track.h"

// The settings of a run, which a command line selects.
struct RunSettings {
  bool simple = false;  // simple mode instead of automode
  int threshold = 10;   // unchanged polls before a deck's track counts as played
};

struct DeckState {
  Track current;     // read in this poll
  Track previous;    // read in the previous poll
  Track lastLogged;  // of the track last reported for this deck
  int stable = 0;    // polls in which the deck did not change
};

// The tracks to report after one poll, in the order they were decided: decks[i] and the
// track it played, tracks[i].
struct PollReports {
  int count = 0;
  Deck decks[2];
  Track tracks[2];
};

struct Tracking {
  RunSettings settings;
  DeckState left;
  DeckState right;
};

// Applies one poll's rules to the current texts of both decks (set by the caller):
// the left deck's rule first, then the right deck's. A reported deck's current texts
// become its last-logged texts; the current texts then become the previous ones.
PollReports poll(Tracking& tracking);

// Sets the texts read in this poll and applies its rules.
PollReports poll(Tracking& tracking, Track left, Track right);

// When each deck was first seen holding the track it holds now: the time of that poll.
struct LoadTimes {
  Track seen[2];
  std::time_t since[2] = {0, 0};
};

// Notes the texts that one poll, at time now, read from a deck.
void noteLoad(LoadTimes& loads, Deck deck, const Track& track, std::time_t now);

inline std::time_t loadedAt(const LoadTimes& loads, Deck deck) {
  return loads.since[static_cast<int>(deck)];
}
