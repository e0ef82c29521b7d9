// Reading the playlist files the tracker writes: an optional header line, then one record
// per line with Latin-1 texts:
//   2026.12.07 23:08:31;L;"Marlow Tide";"Paper Harbour";"Night Ferries";2026;12;07;23;08;31
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/output_file.h"
#include "tracker/track.h"

// One played track as the playlist holds it.
struct Record {
  std::tm time{};  // the local clock time it was logged at (tm_year, tm_mon, ... tm_sec)
  Deck deck = Deck::kLeft;
  Track track;             // UTF-8
  bool ambiguous = false;  // its texts held more "\";\"" separators than the three need
};

enum class LineKind { kRecord, kHeader, kOther };

// Reads one line (without its LF; a CR at its end is dropped) into *record. Quotes and
// semicolons inside texts are not escaped in playlists, so the texts are taken this way:
// the first two fields and the last six are fixed, the artist ends at the first "\";\""
// and the album begins after the last one. The date and time must be a valid clock time
// and match the six trailing fields. *record is changed only for kRecord.
LineKind parseLine(std::string_view line, Record* record);

// Appends the UTF-8 form of Latin-1 text.
void appendLatin1AsUtf8(std::string_view latin1, std::string* utf8);

// Reads a playlist line by line through a buffer of fixed size, so that memory does not
// grow with the file. A line longer than the buffer is not a record and is skipped whole.
class PlaylistReader {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  enum class Result { kRecord, kSkipped, kEnd, kFailed };

  PlaylistReader();

  bool open(const std::string& path, platform::Error* err);
  // Reads no further than this many bytes of the file.
  void limit(std::uint64_t bytes) { limit_ = bytes; }

  // The next record, a line that is not one (kSkipped; header lines are passed over
  // silently), the end, or a failed read (with *err filled).
  Result next(Record* record, platform::Error* err);

  // The number of the line last read, from 1.
  std::uint64_t line() const { return line_; }
  // The bytes read from the file so far.
  std::uint64_t bytesRead() const { return read_; }

 private:
  // Reads more of the file behind the unread bytes; false at the end or on failure.
  bool fill(platform::Error* err);

  platform::InputFile file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // the unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::uint64_t read_ = 0;
  std::uint64_t limit_ = UINT64_MAX;
  std::uint64_t line_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
};
