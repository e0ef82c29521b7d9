// Pairing a playlist's records with its set log's, record by record, by deck and time.
//
// The two files are written side by side, one record each per played track, so they
// hold the same records in the same order until someone edits the playlist. Each
// playlist record is paired with the set log record of the same deck and the same time
// to the second, looked for among the next set log records; the set log records passed
// over on the way are ones deleted from the playlist. A playlist record without a
// partner was added or edited there. So one deleted, added, edited or moved record
// unpairs at most itself, and every other record keeps its set log texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "setfile/playlist_record.h"

class SetLogPairing {
 public:
  // How many set log records ahead a partner is looked for: the longest run of records
  // deleted from the playlist that is passed over without help. A longer run is passed
  // over when every record looked at lies before the playlist record in time.
  static constexpr std::size_t kLookAhead = 32;

  // setLog: reads the set log's next record into *record; false at its end.
  explicit SetLogPairing(std::function<bool(Record*)> setLog) : setLog_(std::move(setLog)) {}

  // The partner in the set log of the playlist's next record, or nullptr; valid until
  // the next call.
  const Record* partnerOf(const Record& record);

  // Reads the rest of the set log (for its count); the set log records read.
  std::uint64_t drain();
  std::uint64_t setLogRecords() const { return read_; }

 private:
  // Tops the records looked ahead at up to kLookAhead.
  void fill();

  std::function<bool(Record*)> setLog_;
  std::deque<Record> ahead_;
  std::optional<Record> partner_;
  std::uint64_t read_ = 0;
  bool ended_ = false;
};

// Whether two records of one track agree in deck and in time to the second.
bool sameDeckAndTime(const Record& a, const Record& b);
