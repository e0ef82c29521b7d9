// Reading the playlist files the tracker writes: an optional header line, then one record
// per line (see tracker/record_format.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/output_file.h"
#include "tracker/record_format.h"
#include "tracker/set_log.h"

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
