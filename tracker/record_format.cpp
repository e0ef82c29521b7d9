#include "tracker/record_format.h"

#include "tracker/conversion.h"

namespace {

// The header as a line holds it, without its line end.
constexpr std::string_view kHeaderLine =
    kPlaylistHeader.substr(0, kPlaylistHeader.size() - kRecordLineEnd.size());

// Separators between the six parts of the date-time, in the first column and in the last six.
constexpr char kDateTimeSeparators[] = ".. ::";
constexpr char kColumnSeparators[] = ";;;;;";

// The texts part with three empty texts: "\";\"\";\"".
constexpr std::size_t kShortestTexts = 2 * kTextSeparator.size();

// The six parts of a date-time, in the order they are written.
void dateTimeParts(const std::tm& time, int (&parts)[6]) {
  parts[0] = time.tm_year + 1900;
  parts[1] = time.tm_mon + 1;
  parts[2] = time.tm_mday;
  parts[3] = time.tm_hour;
  parts[4] = time.tm_min;
  parts[5] = time.tm_sec;
}

// Writes the six parts of the date-time with four digits for the year and two for the
// others, separated as `separators` gives.
void appendDateTime(const std::tm& time, const char* separators, std::string* text) {
  int parts[6];
  dateTimeParts(time, parts);
  for (int i = 0; i < 6; ++i) {
    if (i > 0) text->push_back(separators[i - 1]);
    *text += i_to_str(parts[i], i == 0 ? 4 : 2);
  }
}

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
  if (!isCalendarDay(values[0], values[1], values[2]) || values[3] > 23 || values[4] > 59 ||
      values[5] > 60) {
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
  appendDateTime(time, kDateTimeSeparators, &text);
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
  appendDateTime(time, kColumnSeparators, &record);
  return record;
}

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

LineKind parseLine(std::string_view line, Record* record, TextBytes bytes) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line == kHeaderLine) return LineKind::kHeader;
  if (line.size() < kRecordPrefixSize + kShortestTexts + kRecordSuffixSize) {
    return LineKind::kOther;
  }

  const char* prefix = line.data();
  const char* suffix = line.data() + line.size() - kRecordSuffixSize;
  const char deck = prefix[kDateTimeSize + 1];
  std::tm time;
  if (!readClock(prefix, kDateTimeSeparators, &time) || prefix[kDateTimeSize] != ';' ||
      (deck != *deckLetter(Deck::kLeft) && deck != *deckLetter(Deck::kRight)) ||
      prefix[kDateTimeSize + 2] != ';' || prefix[kDateTimeSize + 3] != '"' || suffix[0] != '"' ||
      suffix[1] != ';') {
    return LineKind::kOther;
  }
  // The trailing fields repeat the date and time, digit for digit, in columns of their own.
  for (std::size_t i = 0; i < kDateTimeSize; ++i) {
    const char expected = isDigit(prefix[i]) ? prefix[i] : kColumnSeparators[0];
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
