#include "tracker/deck_view.h"

#include "setfile/text.h"

namespace {

char32_t codeUnit(const unsigned char* field, int index) {
  return field[2 * index] | static_cast<char32_t>(field[2 * index + 1]) << 8;
}

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

}  // namespace

std::string readField(BlockView view, int offset, Charset charset) {
  const auto* field = reinterpret_cast<const unsigned char*>(view.data + offset);
  std::string text;
  for (int i = 0; i < kFieldUnitsRead; ++i) {
    char32_t c = codeUnit(field, i);
    if (c == 0) break;
    if (isControl(c)) c = ' ';
    if (isHighSurrogate(c) && i + 1 < kFieldUnitsRead && isLowSurrogate(codeUnit(field, i + 1))) {
      // A pair is one character; its low half must lie within the units read.
      c = 0x10000 + ((c - 0xD800) << 10) + (codeUnit(field, ++i) - 0xDC00);
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      c = 0xFFFD;
    }
    if (charset == Charset::kUtf8) {
      appendUtf8(c, &text);
    } else {
      text += c <= 0xFF ? static_cast<char>(c) : '?';
    }
  }
  return text;
}

Track readDeck(BlockView view, Deck deck, Charset charset) {
  const DeckFields& fields = fieldsOf(deck);
  return {readField(view, fields.artist, charset), readField(view, fields.song, charset),
          readField(view, fields.album, charset)};
}
