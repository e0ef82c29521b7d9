// Fuzz target: the playlist record parser, one line of the input at a time.
//
// A record's texts must be valid UTF-8 holding Latin-1 characters only. Written back the
// tracker's way (formatRecord), a record must read back the same; one without extra
// "\";\"" separators must write back to the very line it came from. Each output form must
// escape every text: the JSON must hold no raw control character, and the page's row must
// hold the same markup as the row of a record with empty texts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "publish/formats.h"
#include "setfile/playlist_reader.h"
#include "tracker/playlist.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// The Latin-1 form of UTF-8 text; false if it is not UTF-8 of code points up to U+00FF.
bool latin1Of(std::string_view utf8, std::string* latin1) {
  latin1->clear();
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      latin1->push_back(static_cast<char>(byte));
    } else if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
      latin1->push_back(static_cast<char>(((byte & 0x03) << 6) | (utf8[++i] & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

std::size_t count(std::string_view text, char c) {
  std::size_t n = 0;
  for (const char x : text) n += x == c ? 1 : 0;
  return n;
}

void checkRecord(std::string_view line, const Record& record) {
  Track latin1;
  check(latin1Of(record.track.artist, &latin1.artist) &&
            latin1Of(record.track.song, &latin1.song) &&
            latin1Of(record.track.album, &latin1.album),
        "a text is not UTF-8 of Latin-1 characters");
  const std::string written = formatRecord(record.time, record.deck, latin1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!record.ambiguous) check(written == line, "a record does not write back to its line");
  Record again;
  check(parseLine(written, &again) == LineKind::kRecord, "a written record does not read");
  check(again.track == record.track && again.deck == record.deck &&
            again.ambiguous == record.ambiguous &&
            clockSeconds(again.time) == clockSeconds(record.time),
        "a written record reads back differently");

  std::string json;
  JsonFormat().record(record, &json);
  json.erase(0, 1);  // the line end before each object
  for (const char c : json) check(static_cast<unsigned char>(c) >= 0x20, "raw control in JSON");

  Record empty = record;
  empty.track = Track{};
  std::string row;
  std::string emptyRow;
  HtmlFormat(record.time, record.time, 1).record(record, &row);
  HtmlFormat(record.time, record.time, 1).record(empty, &emptyRow);
  for (const char c : {'<', '>', '"', '\''}) {
    check(count(row, c) == count(emptyRow, c), "markup from a text in the page");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Record record;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    if (parseLine(line, &record) == LineKind::kRecord) checkRecord(line, record);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  return 0;
}
