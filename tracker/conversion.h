// Conversions between 32-bit signed integers and decimal text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The decimal text of value: a "-" for a negative value, then the digits.
std::string i_to_str(int value);

// The decimal text of value, with leading zeros up to width characters.
std::string i_to_str(int value, int width);

// The integer at the start of text: leading white space is skipped, then an optional
// sign and the decimal digits up to the first other character are read. A text without
// digits gives 0; a number outside the int range gives the nearest int.
int str_to_i(std::string text);

// The same reading, but nothing when the text has no digits at its start or its number
// does not fit an int.
std::optional<int> parseInt(std::string_view text);
