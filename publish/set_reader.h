// Reading a set to publish it: the playlist, and the set log beside it when the two pair.
//
// Given X.txt with X.jsonl beside it, both are read, and each playlist record is paired
// with the set log record of the same deck and time to the second (set_pairing.h). The
// playlist gives the records; a record that pairs is published with the set log's texts
// (every character) and times. A record of the playlist that pairs with none (added or
// edited there) is published as the playlist holds it, and a warning names both files and
// the record. A set log without a single partner is not read. A set log can also be
// given alone. Tracks whose three texts are all empty are
// left out and counted: this is the one place that leaves them out.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "setfile/file_names.h"
#include "setfile/playlist_reader.h"
#include "setfile/playlist_record.h"

class SetReader {
 public:
  // Opens the set. It is read whole once first (and the lines that are not records named
  // on stderr) when `counts` asks for the number of tracks and their times before the
  // first track is handed out, or when a set log lies beside the playlist to be paired
  // with it; otherwise read() is the only reading. playlistOnly leaves the set log out.
  // A file that cannot be read is the failure, naming it.
  platform::Status open(const std::string& path, bool playlistOnly, bool counts);

  // Hands each track to publish to `each`, in order, until it returns false. After a first
  // reading it reads no further than that did, so a set the tracker is still logging reads
  // the same both times; else it names the lines that are not records as it goes. A pipe
  // is read into memory first. A file that cannot be read is the failure, naming it.
  platform::Status read(const std::function<bool(const Record&)>& each);

  // Whether a stop (Ctrl-C) was requested while reading.
  bool stopped() const { return stopped_; }
  // Whether the set was read whole by open(), so that the figures below are known before
  // read(); else they are known after it.
  bool counted() const { return surveyed_; }
  // Whether the tracks come from a set log: then each Record holds its utcOffset and
  // loaded time (but for a playlist record that pairs with none in the set log). Known after open()
  // when counted(), else once read() has handed out a track.
  bool setLogRead() const { return setLogRead_; }
  // The records of the set, empty ones included, and the file's size: a playlist without
  // a single record is refused.
  std::uint64_t records() const { return tally().records; }
  std::uint64_t bytes() const { return playlist_.bytes; }
  // The tracks to publish, and their first and last times.
  std::uint64_t tracks() const { return tally().records - tally().empty; }
  const std::tm& firstTime() const { return tally().first; }
  const std::tm& lastTime() const { return tally().last; }

  // What a reading found in one file.
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
    bool fromCopy = false;  // not a regular file: read into `copy` first
    std::string copy;
    std::uint64_t bytes = 0;  // read by the first reading
    TextBytes textBytes = TextBytes::kLatin1;
    Tally tally;
  };

 private:
  const Tally& tally() const { return setLog_.used ? published_ : playlist_.tally; }
  // The first reading, of both files side by side.
  platform::Status survey();
  // What the first reading found of the pairing.
  struct Pairing {
    std::uint64_t setLogRecords = 0;
    std::uint64_t paired = 0;
    std::uint64_t unpaired = 0;          // playlist records without a partner
    std::vector<std::uint64_t> numbers;  // the first of them, numbered from 1
    bool lastUnpaired = false;           // the playlist's last record among them
    Tally beforeLast;                    // the tally before the last record
  };
  // After the first reading: whether the set log is read, and a warning of the records
  // that do not pair.
  void checkPairing(Pairing& found);
  // The warnings that wait for the end of the first reading.
  void warnAtEnd() const;

  Source playlist_;
  Source setLog_;
  Tally published_;        // the records published beside a set log
  bool dropLast_ = false;  // the playlist's last record waits for its set log line
  bool surveyed_ = false;
  bool setLogRead_ = false;
  bool stopped_ = false;
};

// Why a set without a track to publish is refused: an empty file, one without a record of
// the tracker, or one whose tracks are all empty.
platform::Error nothingToPublish(const std::string& path, const SetReader& set);

// The tracks of a set that are not empty (see SetReader), in order; a file that cannot be
// read is the failure, naming it.
platform::Expected<std::vector<Record>> readSetTracks(const std::string& path, bool playlistOnly);
