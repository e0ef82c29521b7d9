#include "setlist/playlist_reader.h"

#include <cstring>

#include "tracker/playlist.h"

namespace {

// "2026.12.07 23:08:31;L;\"" before the texts and "\";2026;12;07;23;08;31" after them.
constexpr std::size_t kPrefixSize = 23;
constexpr std::size_t kSuffixSize = 21;
constexpr std::string_view kSeparator = "\";\"";
// The texts part with three empty texts: "\";\"\";\"".
constexpr std::size_t kShortestTexts = 2 * kSeparator.size();

constexpr std::string_view kHeader = kPlaylistHeader.substr(0, kPlaylistHeader.size() - 2);

bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The number of `count` digits at text; -1 when one of them is not a digit.
int digits(const char* text, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    if (!isDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Reads "YYYY?MM?DD?hh?mm?ss" where each ? is the separator at that place in `separators`.
bool readClock(const char* text, const char* separators, std::tm* time) {
  static constexpr int kWidths[] = {4, 2, 2, 2, 2, 2};
  int values[6];
  const char* p = text;
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && *p++ != separators[i - 1]) return false;
    values[i] = digits(p, kWidths[i]);
    if (values[i] < 0) return false;
    p += kWidths[i];
  }
  if (values[1] < 1 || values[1] > 12 || values[2] < 1 || values[2] > 31 || values[3] > 23 ||
      values[4] > 59 || values[5] > 60) {
    return false;
  }
  *time = std::tm{};
  time->tm_year = values[0] - 1900;
  time->tm_mon = values[1] - 1;
  time->tm_mday = values[2];
  time->tm_hour = values[3];
  time->tm_min = values[4];
  time->tm_sec = values[5];
  return true;
}

void assignText(std::string_view latin1, std::string* utf8) {
  utf8->clear();
  appendLatin1AsUtf8(latin1, utf8);
}

}  // namespace

void appendLatin1AsUtf8(std::string_view latin1, std::string* utf8) {
  const char* p = latin1.data();
  const char* const end = p + latin1.size();
  while (p != end) {
    // Runs of ASCII are copied whole.
    const char* run = p;
    while (run != end && static_cast<unsigned char>(*run) < 0x80) ++run;
    utf8->append(p, static_cast<std::size_t>(run - p));
    if (run == end) break;
    const auto byte = static_cast<unsigned char>(*run);
    utf8->push_back(static_cast<char>(0xC0 | (byte >> 6)));
    utf8->push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    p = run + 1;
  }
}

LineKind parseLine(std::string_view line, Record* record) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line == kHeader) return LineKind::kHeader;
  if (line.size() < kPrefixSize + kShortestTexts + kSuffixSize) return LineKind::kOther;

  const char* prefix = line.data();
  const char* suffix = line.data() + line.size() - kSuffixSize;
  std::tm time;
  if (!readClock(prefix, ".. ::", &time) || prefix[19] != ';' ||
      (prefix[20] != 'L' && prefix[20] != 'R') || prefix[21] != ';' || prefix[22] != '"' ||
      suffix[0] != '"' || suffix[1] != ';' || !readClock(suffix + 2, ";;;;;", &time)) {
    return LineKind::kOther;
  }
  // The trailing fields repeat the date and time: both must agree.
  for (int i = 0; i < 19; ++i) {
    if (isDigit(prefix[i]) && prefix[i] != suffix[2 + i]) return LineKind::kOther;
  }

  const std::string_view texts = line.substr(kPrefixSize, line.size() - kPrefixSize - kSuffixSize);
  const std::size_t first = texts.find(kSeparator);
  const std::size_t last = texts.rfind(kSeparator);
  if (first == std::string_view::npos || last < first + kSeparator.size()) return LineKind::kOther;

  record->time = time;
  record->deck = prefix[20] == 'L' ? Deck::kLeft : Deck::kRight;
  record->ambiguous = texts.find(kSeparator, first + 1) < last;
  assignText(texts.substr(0, first), &record->track.artist);
  const std::size_t song = first + kSeparator.size();
  assignText(texts.substr(song, last - song), &record->track.song);
  assignText(texts.substr(last + kSeparator.size()), &record->track.album);
  return LineKind::kRecord;
}

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
