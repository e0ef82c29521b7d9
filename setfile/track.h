// One track as a deck shows it, and the deck it is on.
#pragma once

#include <string>

enum class Deck { kLeft, kRight };

struct Track {
  std::string artist;
  std::string song;
  std::string album;
  bool operator==(const Track&) const = default;
};

// "L" or "R": the deck's letter in reports and records.
inline const char* deckLetter(Deck deck) { return deck == Deck::kLeft ? "L" : "R"; }

// Whether a track's three texts are all empty, as the tracker logs a deck that was cleared:
// such a record is kept in the files and left out of everything published.
inline bool isEmptyTrack(const Track& track) {
  return track.artist.empty() && track.song.empty() && track.album.empty();
}
