// ASCII letters and hex digits, whatever the locale: the lower-case form of names (host
// names, URL schemes, file extensions, chat commands) and the value of hex digits (escapes
// in JSON and URLs).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The lower-case form of an ASCII capital letter; every other byte stays.
constexpr char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// text with its ASCII capital letters in lower case.
inline std::string asciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = asciiLower(c);
  return lower;
}

// Whether a and b are the same but for the case of ASCII letters.
constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

// The value of a hex digit (either case), -1 when c is not one.
constexpr int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of the first `count` characters of text as hex digits (count at most 7); -1
// when they are not all there or not all hex digits.
constexpr long readHex(std::string_view text, std::size_t count) {
  if (text.size() < count) return -1;
  long value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int digit = hexDigit(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace platform
