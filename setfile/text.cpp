#include "setfile/text.h"

#include <algorithm>

std::size_t utf8Length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80;   // the range of the second byte, narrowed for the lead bytes
  unsigned char high = 0xBF;  // that would allow overlong forms, surrogates or > U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((at(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::size_t utf8Characters(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += isContinuationByte(c) ? 0 : 1;
  return count;
}

std::size_t utf8Prefix(std::string_view text, std::size_t characters) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!isContinuationByte(text[i]) && characters-- == 0) return i;
  }
  return text.size();
}

bool isUtf8(std::string_view text) {
  while (!text.empty()) {
    // Runs of ASCII are passed over whole.
    std::size_t ascii = 0;
    while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
    text.remove_prefix(ascii);
    if (text.empty()) break;
    const std::size_t length = utf8Length(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

void appendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
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

std::size_t controlAt(std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x20 || byte == 0x7F) return 1;
  if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
    return 2;
  }
  return 0;
}

std::string printableText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8Length(text.substr(i));
    if (length != 0 && controlAt(text, i) == 0) {
      shown.append(text.substr(i, length));
      i += length;
      continue;
    }
    // A C1 control is two bytes of UTF-8: shown by its code, the second byte.
    const bool c1 = length == 2;
    const auto byte = static_cast<unsigned char>(text[c1 ? i + 1 : i]);
    shown.append(c1 ? "\\u00" : "\\x");
    shown.push_back(kHex[byte >> 4]);
    shown.push_back(kHex[byte & 0xF]);
    i += c1 ? 2 : 1;
  }
  return shown;
}

void appendNumber(std::uint64_t value, int width, std::string* out) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = count; i < width; ++i) out->push_back('0');
  while (count > 0) out->push_back(digits[--count]);
}

void appendNumber(std::int64_t value, int width, std::string* out) {
  appendNumber(static_cast<std::uint64_t>(value < 0 ? 0 : value), width, out);
}

void appendJsonString(std::string_view text, std::string* out, JsonText form) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text.front());
    std::size_t length = 1;
    switch (byte) {
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      case '<':
      case '>':
      case '&':
        if (form == JsonText::kForPage) {
          out->append(byte == '<' ? "\\u003c" : byte == '>' ? "\\u003e" : "\\u0026");
        } else {
          out->push_back(static_cast<char>(byte));
        }
        break;
      default:
        if (byte < 0x20) {
          out->append("\\u00");
          out->push_back(kHex[byte >> 4]);
          out->push_back(kHex[byte & 0xF]);
        } else if ((length = utf8Length(text)) != 0) {
          if (form == JsonText::kForPage && length == 3 && text.substr(0, 2) == "\xE2\x80" &&
              (text[2] == '\xA8' || text[2] == '\xA9')) {
            out->append(text[2] == '\xA8' ? "\\u2028" : "\\u2029");
          } else {
            out->append(text.substr(0, length));
          }
        } else {
          out->append(kReplacementCharacter);
          length = 1;
        }
    }
    text.remove_prefix(length);
  }
  out->push_back('"');
}

std::vector<std::string> splitList(std::string_view text) {
  std::vector<std::string> items;
  for (std::size_t begin = 0; begin <= text.size();) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    std::string_view item = text.substr(begin, comma - begin);
    item.remove_prefix(std::min(item.find_first_not_of(' '), item.size()));
    item.remove_suffix(item.size() - (item.find_last_not_of(' ') + 1));
    if (!item.empty()) items.emplace_back(item);
    begin = comma + 1;
  }
  return items;
}
