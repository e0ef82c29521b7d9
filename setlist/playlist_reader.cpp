#include "setlist/playlist_reader.h"

#include <cstring>

PlaylistReader::PlaylistReader() : buffer_(new char[kBufferSize]) {}

bool PlaylistReader::open(const std::string& path, platform::Error* err) {
  begin_ = end_ = 0;
  read_ = line_ = 0;
  atEnd_ = failed_ = false;
  return file_.Open(path, err);
}

bool PlaylistReader::fill(platform::Error* err) {
  if (atEnd_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  std::size_t room = kBufferSize - end_;
  if (limit_ - read_ < room) room = static_cast<std::size_t>(limit_ - read_);
  const std::ptrdiff_t n = room == 0 ? 0 : file_.Read(buffer_.get() + end_, room, err);
  if (n <= 0) {
    atEnd_ = true;
    failed_ = n < 0;
    return false;
  }
  end_ += static_cast<std::size_t>(n);
  read_ += static_cast<std::uint64_t>(n);
  return true;
}

PlaylistReader::Result PlaylistReader::next(Record* record, platform::Error* err) {
  bool overlong = false;  // the current line did not fit the buffer; its start is dropped
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    std::string_view text;
    if (newline != nullptr) {
      text = std::string_view(start, static_cast<std::size_t>(newline - start));
      begin_ += text.size() + 1;
    } else if (end_ - begin_ == kBufferSize) {
      overlong = true;
      begin_ = end_ = 0;
      continue;
    } else if (fill(err)) {
      continue;
    } else if (failed_) {
      return Result::kFailed;
    } else if (begin_ == end_ && !overlong) {
      return Result::kEnd;
    } else {
      // The last line has no line end: a record all the same if it is whole.
      text = std::string_view(start, end_ - begin_);
      begin_ = end_;
    }
    ++line_;
    if (overlong) return Result::kSkipped;
    switch (parseLine(text, record)) {
      case LineKind::kRecord:
        return Result::kRecord;
      case LineKind::kHeader:
        continue;
      case LineKind::kOther:
        return Result::kSkipped;
    }
  }
}
