// Fuzz target: setlist live's format line and its JSON.
//
// The input is a format line, then after a zero byte the artist, song and album, split at
// further zero bytes. A format line without a fault must fill in: with texts that hold no
// brace, each brace of the line comes out of a "{{" or a "}}", so the line filled in holds
// no more braces than the format line. The JSON must escape every text: no raw control
// character and no markup character may reach it, since a page may hold it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "live/live_texts.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

std::string_view nextPart(std::string_view* input) {
  const std::size_t end = std::min(input->find('\0'), input->size());
  const std::string_view part = input->substr(0, end);
  input->remove_prefix(std::min(end + 1, input->size()));
  return part;
}

std::size_t braces(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '{') +
                                  std::count(text.begin(), text.end(), '}'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view format = nextPart(&input);
  ShownTrack shown;
  shown.track.artist = nextPart(&input);
  shown.track.song = nextPart(&input);
  shown.track.album = nextPart(&input);
  shown.time = nextPart(&input);
  if (formatFault(format).empty()) {
    shown.text = formatTrack(format, Deck::kRight, shown.track);
    if (braces(shown.track.artist) + braces(shown.track.song) + braces(shown.track.album) == 0) {
      check(braces(shown.text) <= braces(format), "a brace the format line did not double");
    }
  }
  for (const std::string& json : {nowPlayingJson(&shown, &shown), setJson({shown, shown})}) {
    for (const char c : json) {
      check(static_cast<unsigned char>(c) >= 0x20 || c == '\n', "a raw control character");
      check(c != '<' && c != '>' && c != '&', "a raw markup character");
    }
  }
  return 0;
}
