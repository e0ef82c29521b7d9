#include "tracker/conversion.h"

#include <charconv>
#include <limits>

std::string i_to_str(int value) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

std::string i_to_str(int value, int width) {
  std::string text = i_to_str(value);
  const auto length = static_cast<int>(text.size());
  if (length < width) text.insert(0, static_cast<std::size_t>(width - length), '0');
  return text;
}

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the number at the start of text. Sets *overflow when it does not fit an int and
// returns the nearest int then; nothing when there are no digits.
std::optional<int> readInt(std::string_view text, bool* overflow) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t first = i;
  // Accumulate the magnitude as a negative number, which reaches INT_MIN exactly.
  long long value = 0;
  *overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (!*overflow) {
      value = value * 10 - (text[i] - '0');
      if (value < std::numeric_limits<int>::min()) *overflow = true;
    }
  }
  if (i == first) return std::nullopt;
  if (!negative) {
    if (*overflow || -value > std::numeric_limits<int>::max()) {
      *overflow = true;
      return std::numeric_limits<int>::max();
    }
    return static_cast<int>(-value);
  }
  if (*overflow) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

}  // namespace

int str_to_i(std::string text) {
  bool overflow = false;
  return readInt(text, &overflow).value_or(0);
}

std::optional<int> parseInt(std::string_view text) {
  bool overflow = false;
  std::optional<int> value = readInt(text, &overflow);
  if (overflow) return std::nullopt;
  return value;
}
