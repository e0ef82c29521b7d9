// Fuzz target: arbitrary shared blocks, polled one after the other as the tracker polls
// the DJ application's block. Every deck text must come out as the narrowing rules say:
// at most 100 bytes, no control character, Latin-1 kept, anything else one "?". Every
// reported track must give a four-line console report and one record line without a
// control character.
//
// Input: one byte of settings (bit 0: simple mode; bits 1 and 2: threshold 1 to 4), then
// up to three 4096-byte blocks; a short last block is filled up with zero bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "tracker/console.h"
#include "tracker/deck_view.h"
#include "tracker/playlist.h"
#include "tracker/tracking.h"

namespace {

constexpr std::size_t kBlockSize = 4096;
constexpr int kMaxBlocks = 3;

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

unsigned unitAt(const unsigned char* block, int offset, int index) {
  return block[offset + 2 * index] | static_cast<unsigned>(block[offset + 2 * index + 1]) << 8;
}

// The narrowed text of a field, as the rules give it.
std::string expectedText(const unsigned char* block, int offset) {
  std::string text;
  for (int i = 0; i < kFieldUnits; ++i) {
    const unsigned unit = unitAt(block, offset, i);
    if (unit == 0) break;
    if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0)) {
      text += ' ';
    } else if (unit <= 0xFF) {
      text += static_cast<char>(unit);
    } else {
      text += '?';
      const bool high = unit >= 0xD800 && unit <= 0xDBFF;
      if (high && i + 1 < kFieldUnits) {
        const unsigned next = unitAt(block, offset, i + 1);
        if (next >= 0xDC00 && next <= 0xDFFF) ++i;  // the pair is one character
      }
    }
  }
  return text;
}

bool isControl(unsigned char byte) { return byte < 0x20 || (byte >= 0x7F && byte < 0xA0); }

bool hasControl(const std::string& text) {
  for (char c : text) {
    if (isControl(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

void checkText(const std::string& text, const unsigned char* block, int offset) {
  check(text.size() <= static_cast<std::size_t>(kFieldUnits), "a deck text over 100 bytes");
  check(!hasControl(text), "a control character in a deck text");
  check(text == expectedText(block, offset), "a deck text narrowed against the rules");
  check(nBuf[kFieldUnits] == '\0', "the end of the narrowing buffer was overwritten");
}

void checkReport(const std::string& letter, const DeckTexts& texts) {
  const std::string report = trackReport(letter, texts.artist, texts.song, texts.album);
  std::size_t lineEnds = 0;
  for (char c : report) {
    if (c == '\n') {
      ++lineEnds;
    } else {
      check(!isControl(static_cast<unsigned char>(c)), "a control character in a report");
    }
  }
  check(lineEnds == 4 && report.size() >= 2 && report.compare(report.size() - 2, 2, "\n\n") == 0,
        "a console report that is not four lines and a blank line");

  std::tm time{};
  time.tm_year = 126;
  time.tm_mon = 0;
  time.tm_mday = 2;
  time.tm_hour = 3;
  time.tm_min = 4;
  time.tm_sec = 5;
  formatInfoAt(time, texts.artist, texts.song, texts.album, letter);
  const std::string expected = "2026.01.02 03:04:05;" + letter + ";\"" + texts.artist + "\";\"" +
                               texts.song + "\";\"" + texts.album + "\";2026;01;02;03;04;05";
  check(formattedInfo == expected, "a record that does not hold the reported texts");
  check(!hasControl(formattedInfo), "a control character in a record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  Tracking tracking;
  tracking.settings.simple = (data[0] & 1) != 0;
  tracking.settings.threshold = tracking.settings.simple ? 1 + ((data[0] >> 1) & 3) : 10;
  ++data;
  --size;

  for (int n = 0; n < kMaxBlocks && size > 0; ++n) {
    // A block of exactly 4096 bytes on the heap, so that any read past it is reported.
    const std::size_t length = size < kBlockSize ? size : kBlockSize;
    auto block = std::make_unique<unsigned char[]>(kBlockSize);
    std::memcpy(block.get(), data, length);
    data += length;
    size -= length;
    pBuf = reinterpret_cast<const char*>(block.get());

    // Refilled in place, as the tracking loop reads them: a shorter text must not keep
    // bytes of the longer one that the string held before.
    readDeck(false, tracking.left.current);
    readDeck(true, tracking.right.current);
    check(readDeck(false) == tracking.left.current && readDeck(true) == tracking.right.current,
          "a deck read in place differs from one read afresh");
    const DeckTexts* decks[] = {&tracking.left.current, &tracking.right.current};
    const int offsets[2][3] = {{kLeftSong, kLeftAlbum, kLeftArtist},
                               {kRightSong, kRightAlbum, kRightArtist}};
    for (int deck = 0; deck < 2; ++deck) {
      checkText(decks[deck]->song, block.get(), offsets[deck][0]);
      checkText(decks[deck]->album, block.get(), offsets[deck][1]);
      checkText(decks[deck]->artist, block.get(), offsets[deck][2]);
    }

    const PollReports reports = poll(tracking);
    check(reports.count >= 0 && reports.count <= 2, "more than two reports in one poll");
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      const DeckState& state = deck == Deck::kLeft ? tracking.left : tracking.right;
      check(state.lastLogged == state.current, "a reported deck whose track was not kept");
      checkReport(deckLetter(deck), state.current);
    }
    pBuf = nullptr;
  }
  return 0;
}
