#include "setfile/playlist_record.h"

#include "setfile/text.h"

namespace {

// The header as a line holds it, without its line end.
constexpr std::string_view kHeaderLine =
    kPlaylistHeader.substr(0, kPlaylistHeader.size() - kRecordLineEnd.size());

// The texts part with three empty texts: "\";\"\";\"".
constexpr std::size_t kShortestTexts = 2 * kTextSeparator.size();

bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

void assignText(std::string_view text, TextBytes bytes, std::string* utf8) {
  if (bytes == TextBytes::kUtf8) {
    utf8->assign(text);
  } else {
    utf8->clear();
    appendLatin1AsUtf8(text, utf8);
  }
}

}  // namespace

std::string formatDateTime(const std::tm& time) {
  std::string text;
  appendClock(time, kRecordClock, &text);
  return text;
}

std::string formatRecord(const std::tm& time, Deck deck, const Track& track) {
  std::string record = formatDateTime(time);
  record += ';';
  record += deckLetter(deck);
  record += ";\"";
  record += track.artist;
  record += kTextSeparator;
  record += track.song;
  record += kTextSeparator;
  record += track.album;
  record += "\";";
  appendClock(time, kRecordColumns, &record);
  return record;
}

LineKind parseLine(std::string_view line, Record* record, TextBytes bytes) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line == kHeaderLine) return LineKind::kHeader;
  if (line.size() < kRecordPrefixSize + kShortestTexts + kRecordSuffixSize) {
    return LineKind::kOther;
  }

  const char* prefix = line.data();
  const char* suffix = line.data() + line.size() - kRecordSuffixSize;
  const char deck = prefix[kClockSize + 1];
  std::tm time;
  if (!readClock(line, kRecordClock, &time) || prefix[kClockSize] != ';' ||
      (deck != *deckLetter(Deck::kLeft) && deck != *deckLetter(Deck::kRight)) ||
      prefix[kClockSize + 2] != ';' || prefix[kClockSize + 3] != '"' || suffix[0] != '"' ||
      suffix[1] != ';') {
    return LineKind::kOther;
  }
  // The trailing fields repeat the date and time, digit for digit, in columns of their own.
  for (std::size_t i = 0; i < kClockSize; ++i) {
    const char expected = isDigit(prefix[i]) ? prefix[i] : kRecordColumns[0];
    if (suffix[2 + i] != expected) return LineKind::kOther;
  }

  const std::string_view texts =
      line.substr(kRecordPrefixSize, line.size() - kRecordPrefixSize - kRecordSuffixSize);
  const std::size_t first = texts.find(kTextSeparator);
  const std::size_t last = texts.rfind(kTextSeparator);
  if (first == std::string_view::npos || last < first + kTextSeparator.size()) {
    return LineKind::kOther;
  }

  *record = Record{};
  record->time = time;
  record->deck = deck == *deckLetter(Deck::kLeft) ? Deck::kLeft : Deck::kRight;
  record->ambiguous = texts.find(kTextSeparator, first + 1) < last;
  assignText(texts.substr(0, first), bytes, &record->track.artist);
  const std::size_t song = first + kTextSeparator.size();
  assignText(texts.substr(song, last - song), bytes, &record->track.song);
  assignText(texts.substr(last + kTextSeparator.size()), bytes, &record->track.album);
  return LineKind::kRecord;
}
