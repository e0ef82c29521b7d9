#include "tracker/conversion.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace {

// Characters of the longest decimal text of an int, "-2147483648".
constexpr std::size_t kMaxDigits = 11;

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string i_to_str(int value) {
  char digits[kMaxDigits];
  const auto result = std::to_chars(digits, digits + kMaxDigits, value);
  return std::string(digits, result.ptr);
}

std::string i_to_str(int value, int width) {
  std::string text = i_to_str(value);
  const auto length = static_cast<int>(text.size());
  if (length < width) text.insert(0, static_cast<std::size_t>(width - length), '0');
  return text;
}

namespace {

// What reading a number at the start of a text found.
struct Reading {
  bool digits = false;    // the text has digits at its start (after blanks and a sign)
  bool overflow = false;  // their number does not fit an int; value is the nearest int
  int value = 0;
};

Reading readInt(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end && isBlank(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* const first = p;
  // The magnitude stops growing once it is past every int's, so it cannot wrap however
  // many digits follow; 2147483648 is the magnitude of the smallest int.
  constexpr std::uint64_t kLargestMagnitude = std::uint64_t{1} << 31;
  std::uint64_t magnitude = 0;
  for (; p != end && static_cast<unsigned char>(*p - '0') < 10; ++p) {
    if (magnitude <= kLargestMagnitude) {
      magnitude = magnitude * 10 + static_cast<unsigned char>(*p - '0');
    }
  }
  Reading reading;
  reading.digits = p != first;
  if (negative) {
    reading.overflow = magnitude > kLargestMagnitude;
    reading.value = reading.overflow ? std::numeric_limits<int>::min()
                                     : static_cast<int>(-static_cast<std::int64_t>(magnitude));
  } else {
    reading.overflow = magnitude > kLargestMagnitude - 1;
    reading.value =
        reading.overflow ? std::numeric_limits<int>::max() : static_cast<int>(magnitude);
  }
  return reading;
}

}  // namespace

int str_to_i(std::string text) { return readInt(text).value; }

std::optional<int> parseInt(std::string_view text) {
  const Reading reading = readInt(text);
  if (!reading.digits || reading.overflow) return std::nullopt;
  return reading.value;
}
