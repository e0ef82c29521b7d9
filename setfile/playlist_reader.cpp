#include "setfile/playlist_reader.h"

#include <algorithm>
#include <cstring>

#include "setfile/text.h"

PlaylistReader::PlaylistReader() : buffer_(new char[kBufferSize]) {}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A set log line: a JSON object, perhaps after white space.
bool isSetLogLine(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  return first != std::string_view::npos && line[first] == '{';
}

}  // namespace

platform::Status PlaylistReader::open(const std::string& path) {
  begin_ = end_ = 0;
  read_ = line_ = 0;
  atEnd_ = failed_ = unended_ = fromBytes_ = false;
  allUtf8_ = true;
  return file_.open(path);
}

void PlaylistReader::openBytes(std::string_view bytes) {
  begin_ = end_ = 0;
  read_ = line_ = 0;
  atEnd_ = failed_ = unended_ = false;
  allUtf8_ = fromBytes_ = true;
  bytes_ = bytes;
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
  std::ptrdiff_t n = 0;
  if (fromBytes_) {
    n = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(room, bytes_.size() - read_));
    std::memcpy(buffer_.get() + end_, bytes_.data() + read_, static_cast<std::size_t>(n));
  } else if (room > 0) {
    const platform::Expected<std::size_t> count = file_.read(buffer_.get() + end_, room);
    if (!count && err != nullptr) *err = count.error();
    n = count ? static_cast<std::ptrdiff_t>(*count) : -1;
  }
  if (n <= 0) {
    atEnd_ = true;
    failed_ = n < 0;
    return false;
  }
  end_ += static_cast<std::size_t>(n);
  read_ += static_cast<std::uint64_t>(n);
  return true;
}

PlaylistReader::LineResult PlaylistReader::nextLine(std::string_view* text, platform::Error* err) {
  bool overlong = false;  // the current line did not fit the buffer; its start is dropped
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (newline != nullptr) {
      *text = std::string_view(start, static_cast<std::size_t>(newline - start));
      begin_ += text->size() + 1;
    } else if (end_ - begin_ == kBufferSize) {
      overlong = true;
      begin_ = end_ = 0;
      continue;
    } else if (fill(err)) {
      continue;
    } else if (failed_) {
      return LineResult::kFailed;
    } else if (begin_ == end_ && !overlong) {
      return LineResult::kEnd;
    } else {
      // The last line has no line end: a record all the same if it is whole.
      *text = std::string_view(start, end_ - begin_);
      begin_ = end_;
      unended_ = true;
    }
    ++line_;
    return overlong ? LineResult::kOverlong : LineResult::kLine;
  }
}

std::optional<PlaylistReader::Result> PlaylistReader::parse(std::string_view text, Record* record) {
  if (line_ == 1 && text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  allUtf8_ = allUtf8_ && isUtf8(text);
  if (isSetLogLine(text)) {
    SetLogLine entry;
    if (!parseSetLogLine(text, &entry)) return Result::kSkipped;
    *record = Record{};
    record->time = entry.time.local;
    record->deck = entry.deck;
    record->track = std::move(entry.track);
    record->utcOffset = entry.time.utcOffset;
    record->loaded = entry.loaded;
    return Result::kRecord;
  }
  switch (parseLine(text, record, textBytes_)) {
    case LineKind::kRecord:
      return Result::kRecord;
    case LineKind::kHeader:
      return std::nullopt;
    case LineKind::kOther:
      break;
  }
  return Result::kSkipped;
}

PlaylistReader::Result PlaylistReader::next(Record* record, platform::Error* err) {
  unended_ = false;
  for (;;) {
    std::string_view text;
    switch (nextLine(&text, err)) {
      case LineResult::kEnd:
        return Result::kEnd;
      case LineResult::kFailed:
        return Result::kFailed;
      case LineResult::kOverlong:
        return Result::kSkipped;
      case LineResult::kLine:
        break;
    }
    // Header lines are passed over silently.
    if (const std::optional<Result> result = parse(text, record)) return *result;
  }
}
