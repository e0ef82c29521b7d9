#include "tools/standin_script.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/ascii.h"

namespace standin {

namespace {

constexpr double kLongestWait = 1e6;  // seconds; longer is surely a typing error

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits off the first blank-separated word of *rest.
std::string_view NextWord(std::string_view* rest) {
  std::string_view text = *rest;
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  std::size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  *rest = text.substr(end);
  return text.substr(0, end);
}

// Decodes one UTF-8 character at the start of text into *code_point; returns its
// length in bytes, or 0 when the bytes are not well-formed UTF-8.
std::size_t DecodeUtf8(std::string_view text, char32_t* code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t smallest = 0;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1Fu, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0Fu, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07u, smallest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
  if (value < smallest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  *code_point = value;
  return length;
}

void AppendCodePoint(char32_t code_point, std::u16string* units) {
  if (code_point < 0x10000) {
    units->push_back(static_cast<char16_t>(code_point));
  } else {
    const char32_t offset = code_point - 0x10000;
    units->push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    units->push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
  }
}

bool ParseDeck(std::string_view word, Deck* deck, std::string* error) {
  if (word == "L" || word == "l") {
    *deck = Deck::kLeft;
  } else if (word == "R" || word == "r") {
    *deck = Deck::kRight;
  } else {
    *error = word.empty() ? "deck missing: L or R"
                          : "unknown deck \"" + std::string(word) + "\": L or R";
    return false;
  }
  return true;
}

// Seconds as decimal digits with an optional fraction: 3, 0.5, 2.25, .5
bool ParseSeconds(std::string_view word, double* seconds) {
  double value = 0;
  double scale = 1;
  bool digits = false;
  bool fraction = false;
  for (char c : word) {
    if (c == '.' && !fraction) {
      fraction = true;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (fraction) {
        scale /= 10;
        value += (c - '0') * scale;
      } else {
        value = value * 10 + (c - '0');
      }
      if (value > kLongestWait) return false;
    } else {
      return false;
    }
  }
  *seconds = value;
  return digits;
}

// Splits a deck text at the bars that are not escaped; escapes stay in the parts.
std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;  // the escaped character is never a separator
    } else if (text[i] == '|') {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  fields.push_back(text.substr(start));
  return fields;
}

}  // namespace

bool DecodeText(std::string_view text, std::u16string* units, std::string* error) {
  units->clear();
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '\\') {
      char32_t code_point = 0;
      const std::size_t length = DecodeUtf8(text.substr(i), &code_point);
      if (length == 0) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(text[i]);
        *error = "bad UTF-8 at byte " + std::to_string(i + 1) + " of a text (0x" + kHex[byte >> 4] +
                 kHex[byte & 0xF] + ")";
        return false;
      }
      AppendCodePoint(code_point, units);
      i += length;
      continue;
    }
    if (i + 1 == text.size()) {
      *error = "lone backslash at the end of \"" + std::string(text) + "\" (write \\\\)";
      return false;
    }
    const char escape = text[i + 1];
    long value = -1;
    std::size_t length = 2;
    switch (escape) {
      case '\\':
      case '|':
        value = escape;
        break;
      case 'n':
        value = '\n';
        break;
      case 'r':
        value = '\r';
        break;
      case 't':
        value = '\t';
        break;
      case 'x':
        value = platform::readHex(text.substr(i + 2), 2);
        length = 4;
        break;
      case 'u':
        value = platform::readHex(text.substr(i + 2), 4);
        length = 6;
        break;
      default:
        break;
    }
    if (value < 0) {
      const std::size_t shown = std::min(length, text.size() - i);
      *error = "bad escape \"" + std::string(text.substr(i, shown)) + "\" (known: \\\\ \\| " +
               "\\n \\r \\t \\xHH \\uHHHH)";
      return false;
    }
    units->push_back(static_cast<char16_t>(value));
    i += length;
  }
  return true;
}

bool ParseLine(std::string_view line, Command* command, std::string* error) {
  *command = Command{};
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = line;
  const std::string_view keyword = NextWord(&rest);
  if (keyword.empty() || keyword.front() == '#') return true;

  if (keyword == "load") {
    command->kind = Command::Kind::kLoad;
    if (!ParseDeck(NextWord(&rest), &command->deck, error)) return false;
    // The text starts at its first non-blank character and runs to the line end, so
    // blanks at its end are part of the album.
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    const std::vector<std::string_view> fields = SplitFields(rest);
    if (fields.size() != 3) {
      *error = "load needs three texts, artist|song|album; found " + std::to_string(fields.size());
      return false;
    }
    return DecodeText(fields[0], &command->artist, error) &&
           DecodeText(fields[1], &command->song, error) &&
           DecodeText(fields[2], &command->album, error);
  }
  if (keyword == "clear") {
    command->kind = Command::Kind::kClear;
    if (!ParseDeck(NextWord(&rest), &command->deck, error)) return false;
  } else if (keyword == "wait") {
    command->kind = Command::Kind::kWait;
    const std::string_view word = NextWord(&rest);
    if (!ParseSeconds(word, &command->seconds)) {
      *error = "wait needs seconds such as 2 or 0.5, not \"" + std::string(word) + "\"";
      return false;
    }
  } else if (keyword == "quit") {
    command->kind = Command::Kind::kQuit;
  } else {
    *error = "unknown command \"" + std::string(keyword) + "\" (load, clear, wait, quit)";
    return false;
  }
  if (!TrimBlanks(rest).empty()) {
    *error = "unexpected \"" + std::string(TrimBlanks(rest)) + "\" after " + std::string(keyword);
    return false;
  }
  return true;
}

}  // namespace standin
