#include "tracker/deck_view.h"

#include <bit>
#include <cstdint>
#include <cstring>

char szName[19] = "Global\\ssl_sharing";
char szNameAlternative[18] = "Local\\ssl_sharing";

const char* pBuf = nullptr;

namespace {
char narrowBuffer[kFieldUnits + 1];  // the last byte stays 0
}  // namespace

char* nBuf = narrowBuffer;

namespace {

unsigned codeUnit(const unsigned char* field, int index) {
  return field[2 * index] | static_cast<unsigned>(field[2 * index + 1]) << 8;
}

bool isHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Four code units in one little-endian word, each from U+0020 to U+007E: plain ASCII text,
// which keeps its low bytes. (No unit exceeds 0xFF, so adding to a unit cannot carry into
// the next one; bit 8 of a unit plus 0xE0 is set from 0x20 on, of a unit plus 0x81 from
// 0x7F on.)
bool allPrintableAscii(std::uint64_t units) {
  constexpr std::uint64_t kHighBytes = 0xFF00FF00FF00FF00u;
  constexpr std::uint64_t kBit8 = 0x0100010001000100u;
  if ((units & kHighBytes) != 0) return false;
  const std::uint64_t atLeastBlank = units + 0x00E000E000E000E0u;
  const std::uint64_t beyondTilde = units + 0x0081008100810081u;
  return (atLeastBlank & ~beyondTilde & kBit8) == kBit8;
}

// Narrows the field at offset bytes into the view into nBuf, ended by a zero byte, and
// returns the text's length.
std::size_t narrowField(int offset) {
  const auto* field = reinterpret_cast<const unsigned char*>(pBuf + offset);
  std::size_t length = 0;
  for (int i = 0; i < kFieldUnits; ++i) {
    if constexpr (std::endian::native == std::endian::little) {
      // Plain ASCII, the common case, four units at a time.
      while (i + 4 <= kFieldUnits) {
        std::uint64_t units;
        std::memcpy(&units, field + 2 * i, sizeof units);
        if (!allPrintableAscii(units)) break;
        for (int k = 0; k < 4; ++k) nBuf[length++] = static_cast<char>(units >> (16 * k));
        i += 4;
      }
      if (i == kFieldUnits) break;
    }
    const unsigned unit = codeUnit(field, i);
    if (unit == 0) break;
    char byte;
    if ((unit >= 0x20 && unit <= 0x7E) || (unit >= 0xA0 && unit <= 0xFF)) {
      byte = static_cast<char>(unit);
    } else if (unit < 0xA0) {
      byte = ' ';  // control characters would break the line or drive the terminal
    } else {
      byte = '?';
      // A surrogate pair is one character; its low half must lie within the field.
      if (isHighSurrogate(unit) && i + 1 < kFieldUnits && isLowSurrogate(codeUnit(field, i + 1))) {
        ++i;
      }
    }
    nBuf[length++] = byte;
  }
  nBuf[length] = '\0';  // nBuf holds the last text as a C string
  return length;
}

}  // namespace

std::string getSSLText(int offset) {
  const std::size_t length = narrowField(offset);
  return std::string(nBuf, length);
}

void getSSLTextInto(int offset, std::string& text) {
  const std::size_t length = narrowField(offset);
  text.assign(nBuf, length);
}
