// Reading a set to publish it: the playlist, and the set log beside it when the two pair.
//
// Given X.txt with X.jsonl beside it, both are read. They pair when they hold the same
// number of records with the same decks and times to the second; then the set log's texts
// (every character) are published, else a warning names both files and the playlist is
// published. A set log can also be given alone. Tracks whose three texts are all empty are
// left out and counted.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "setlist/playlist_reader.h"
#include "tracker/record_format.h"

class SetReader {
 public:
  // Reads the set once: names on stderr the lines that are not records and whatever else
  // is wrong with it, decides where the texts come from and counts the tracks to publish.
  // playlistOnly reads the playlist without its set log. False when a file cannot be read
  // (said on stderr).
  bool survey(const std::string& path, bool playlistOnly);

  // Hands each track to publish to `each`, in order, until it returns false. Reads no
  // further than survey did, so a set that the tracker is still logging reads the same
  // both times; a pipe is read from the copy that survey kept. False when a file cannot be
  // read (said on stderr).
  bool read(const std::function<bool(const Record&)>& each);

  // Whether a stop (Ctrl-C) was requested while reading.
  bool stopped() const { return stopped_; }
  // Whether the tracks come from a set log: then each Record holds its utcOffset and
  // loaded time.
  bool setLogRead() const { return setLogRead_; }
  // The records of the set, empty ones included, and the file's size: a playlist without
  // a single record is refused.
  std::uint64_t records() const { return tally().records; }
  std::uint64_t bytes() const { return playlist_.bytes; }
  // The tracks to publish, and their first and last times.
  std::uint64_t tracks() const { return tally().records - tally().empty; }
  const std::tm& firstTime() const { return tally().first; }
  const std::tm& lastTime() const { return tally().last; }

  // What survey found in one file.
  struct Tally {
    std::uint64_t records = 0;
    std::uint64_t empty = 0;      // records whose three texts are empty
    std::uint64_t ambiguous = 0;  // records with more separators than three texts need
    std::tm first{};              // of the tracks to publish
    std::tm last{};
  };

  // One file of the set.
  struct Source {
    std::string path;
    bool used = false;
    bool fromCopy = false;  // not a regular file: read again from `copy`
    std::string copy;
    std::uint64_t bytes = 0;  // read by survey
    TextBytes textBytes = TextBytes::kLatin1;
    Tally tally;
  };

 private:
  const Tally& tally() const { return setLog_.used ? paired_ : playlist_.tally; }

  Source playlist_;
  Source setLog_;
  Tally paired_;  // the set log's records that pair with the playlist's
  bool setLogRead_ = false;
  bool stopped_ = false;
};

// The name of the set log beside a playlist named X.txt: X.jsonl; empty for other names.
std::string setLogBeside(const std::string& path);

// Whether a track's three texts are all empty, as the tracker logs a deck that was cleared.
inline bool isEmptyTrack(const Track& track) {
  return track.artist.empty() && track.song.empty() && track.album.empty();
}
