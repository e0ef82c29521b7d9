#include "tracker/deck_view.h"

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

}  // namespace

std::string getSSLText(int offset) {
  const auto* field = reinterpret_cast<const unsigned char*>(pBuf + offset);
  int length = 0;
  for (int i = 0; i < kFieldUnits; ++i) {
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
  return std::string(nBuf, static_cast<std::size_t>(length));
}
