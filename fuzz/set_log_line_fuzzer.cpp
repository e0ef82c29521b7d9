// Fuzz target: the set log line parser, one line of the input at a time.
//
// A line that reads must hold UTF-8 texts; written back it must be one line of UTF-8 with
// no raw control character, and read back the same, and writing that again must give the
// very same line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "setfile/set_log_line.h"
#include "setfile/text.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

std::string iso(const LocalStamp& stamp) {
  std::string text;
  appendIsoStamp(stamp, &text);
  return text;
}

void checkLine(const SetLogLine& line) {
  check(isUtf8(line.track.artist) && isUtf8(line.track.song) && isUtf8(line.track.album),
        "a text is not UTF-8");
  const std::string written = formatSetLogLine(line);
  check(isUtf8(written), "a written line is not UTF-8");
  for (const char c : written) {
    check(static_cast<unsigned char>(c) >= 0x20, "raw control character in a written line");
  }
  SetLogLine again;
  check(parseSetLogLine(written, &again), "a written line does not read");
  check(again.track == line.track && again.deck == line.deck && iso(again.time) == iso(line.time) &&
            again.loaded.has_value() == line.loaded.has_value() &&
            (!line.loaded || iso(*again.loaded) == iso(*line.loaded)),
        "a written line reads back differently");
  check(formatSetLogLine(again) == written, "a line read back writes differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  SetLogLine line;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    if (parseSetLogLine(input.substr(0, end), &line)) checkLine(line);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  return 0;
}
