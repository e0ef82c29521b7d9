// The rules that decide, poll by poll, when a deck's track has been played.
#pragma once

#include <string>

#include "tracker/console.h"

// The three texts of one deck.
struct DeckTexts {
  std::string song;
  std::string album;
  std::string artist;
  bool operator==(const DeckTexts&) const = default;
};

// Reads the current texts of the left (right = false) or the right deck from the view.
DeckTexts readDeck(bool right);

// The same, refilling the strings of texts in place (no allocation once they have grown
// to the longest texts seen): the tracking loop reads each poll this way.
void readDeck(bool right, DeckTexts& texts);

struct DeckState {
  DeckTexts current;     // read in this poll
  DeckTexts previous;    // read in the previous poll
  DeckTexts lastLogged;  // of the track last reported for this deck
  int stable = 0;        // polls in which the deck did not change
};

enum class Deck { kLeft, kRight };

// The decks to report after one poll, in the order they were decided.
struct PollReports {
  int count = 0;
  Deck decks[2];
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

// "L" or "R".
const std::string& deckLetter(Deck deck);
