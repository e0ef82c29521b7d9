// Reading the playlist files the tracker writes: an optional header line, then one record
// per line (see playlist_record.h and set_log_line.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/output_file.h"
#include "setfile/playlist_record.h"
#include "setfile/set_log_line.h"

// Reads a playlist, or its set log, line by line through a buffer of fixed size, so that
// memory does not grow with the file. A line longer than the buffer is not a record and is
// skipped whole. A line that begins with "{" is read as a set log line, any other as a
// playlist record; a byte-order mark at the start of the file is passed over.
class PlaylistReader {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  enum class Result { kRecord, kSkipped, kEnd, kFailed };

  PlaylistReader();

  platform::Status open(const std::string& path);
  // Reads these bytes instead of a file; they must outlive the reader.
  void openBytes(std::string_view bytes);
  // Reads no further than this many bytes of the file.
  void limit(std::uint64_t bytes) { limit_ = bytes; }
  // How the texts of playlist records are read (Latin-1 unless told).
  void textBytes(TextBytes bytes) { textBytes_ = bytes; }

  // The next record, a line that is not one (kSkipped; header lines are passed over
  // silently), the end, or a failed read (with *err filled).
  Result next(Record* record, platform::Error* err);

  // The number of the line last read, from 1.
  std::uint64_t line() const { return line_; }
  // Whether the line last read was the file's last and had no line end.
  bool lineUnended() const { return unended_; }
  // The bytes read from the file so far.
  std::uint64_t bytesRead() const { return read_; }
  // Whether every line read so far was UTF-8.
  bool allUtf8() const { return allUtf8_; }

 private:
  // Reads more of the file behind the unread bytes; false at the end or on failure.
  bool fill(platform::Error* err);

  // The next line into *text, without its LF; kOverlong for one longer than the buffer.
  enum class LineResult { kLine, kOverlong, kEnd, kFailed };
  LineResult nextLine(std::string_view* text, platform::Error* err);
  // A line as a record or not one; nothing for a header line.
  std::optional<Result> parse(std::string_view text, Record* record);

  platform::InputFile file_;
  std::string_view bytes_;  // the bytes to read when not a file
  bool fromBytes_ = false;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // the unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::uint64_t read_ = 0;
  std::uint64_t limit_ = UINT64_MAX;
  std::uint64_t line_ = 0;
  TextBytes textBytes_ = TextBytes::kLatin1;
  bool atEnd_ = false;
  bool failed_ = false;
  bool unended_ = false;
  bool allUtf8_ = true;
};
