// Fuzz target: the decimal conversions. str_to_i and parseInt are compared with the C
// library's strtoll on arbitrary text; i_to_str must give back what str_to_i reads.
//
// Input: the text; its first five bytes also serve as a value (four bytes) and a width.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "tracker/conversion.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// The number at the start of the text as the C library reads it in the C locale (blanks,
// a sign, decimal digits), clamped to the int range; *digits is false when there are no
// digits and *fits false when the number lies outside the int range.
int reference(const std::string& text, bool* digits, bool* fits) {
  // strtoll stops at the first zero byte, and so does the reading of a number.
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(start, &end, 10);
  *digits = end != start;
  *fits = errno != ERANGE && value >= INT_MIN && value <= INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  bool digits = false;
  bool fits = false;
  const int expected = reference(text, &digits, &fits);
  check(str_to_i(text) == (digits ? expected : 0), "str_to_i differs from strtoll");
  const std::optional<int> parsed = parseInt(text);
  check(parsed.has_value() == (digits && fits), "parseInt takes a text strtoll refuses");
  if (parsed) check(*parsed == expected, "parseInt differs from strtoll");

  if (size >= 5) {
    int value;
    std::memcpy(&value, data, sizeof value);
    const int width = static_cast<signed char>(data[4]);
    const std::string decimal = i_to_str(value);
    check(str_to_i(decimal) == value && parseInt(decimal) == value, "i_to_str does not read back");
    check(decimal.size() <= 11, "i_to_str longer than eleven characters");
    if (value >= 0) {
      const std::string filled = i_to_str(value, width);
      const std::size_t zeros = width > static_cast<int>(decimal.size())
                                    ? static_cast<std::size_t>(width) - decimal.size()
                                    : 0;
      check(filled == std::string(zeros, '0') + decimal, "i_to_str with a width is not filled");
      check(str_to_i(filled) == value, "a filled number does not read back");
    }
  }
  return 0;
}
