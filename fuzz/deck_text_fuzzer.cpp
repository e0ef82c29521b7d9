// Fuzz target: arbitrary shared blocks, polled one after the other as the tracker polls
// the DJ application's block. Every deck text must come out as the narrowing rules say:
// at most 100 bytes, no control character, Latin-1 kept, anything else one "?". Every
// reported track must give a four-line console report and one record line without a
// control character. The UTF-8 form of every text must be valid UTF-8 without a control
// character, and narrow to the same text.
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

constexpr int kMaxBlocks = 3;
constexpr int kFieldUnits = kFieldUnitsRead;

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
}

// Decodes UTF-8 strictly and narrows each character as the Latin-1 form does; false when
// the text is not valid UTF-8 or holds a control character.
bool narrowUtf8(const std::string& text, std::string* narrowed) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p < end) {
    const int extra = *p < 0x80 ? 0 : *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : *p >= 0xC2 ? 1 : -1;
    if (extra < 0 || *p > 0xF4 || end - p <= extra) return false;
    char32_t c = extra == 0 ? *p : *p & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      c = c << 6 | (p[k] & 0x3F);
    }
    const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
    *narrowed += c <= 0xFF ? static_cast<char>(c) : '?';
    p += extra + 1;
  }
  return true;
}

void checkUtf8(const std::string& utf8, const std::string& latin1) {
  std::string narrowed;
  check(narrowUtf8(utf8, &narrowed), "a UTF-8 deck text that is not valid UTF-8 text");
  check(narrowed == latin1, "a UTF-8 deck text that holds other characters");
}

void checkReport(Deck deck, const Track& texts) {
  const std::string report = trackReport(deck, texts);
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
  const std::string record = formatRecord(time, deck, texts);
  const std::string expected = "2026.01.02 03:04:05;" + std::string(deckLetter(deck)) + ";\"" +
                               texts.artist + "\";\"" + texts.song + "\";\"" + texts.album +
                               "\";2026;01;02;03;04;05";
  check(record == expected, "a record that does not hold the reported texts");
  check(!hasControl(record), "a control character in a record");
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
    const BlockView view{reinterpret_cast<const char*>(block.get())};

    for (const Deck deck : {Deck::kLeft, Deck::kRight}) {
      const Track texts = readDeck(view, deck);
      const Track utf8 = readDeck(view, deck, Charset::kUtf8);
      const DeckFields& fields = fieldsOf(deck);
      checkText(texts.artist, block.get(), fields.artist);
      checkText(texts.song, block.get(), fields.song);
      checkText(texts.album, block.get(), fields.album);
      checkUtf8(utf8.artist, texts.artist);
      checkUtf8(utf8.song, texts.song);
      checkUtf8(utf8.album, texts.album);
    }

    const PollReports reports =
        poll(tracking, readDeck(view, Deck::kLeft), readDeck(view, Deck::kRight));
    check(reports.count >= 0 && reports.count <= 2, "more than two reports in one poll");
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      const DeckState& state = deck == Deck::kLeft ? tracking.left : tracking.right;
      check(state.lastLogged == state.current, "a reported deck whose track was not kept");
      checkReport(deck, state.current);
    }
  }
  return 0;
}
