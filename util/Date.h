// Dates as HTTP/1.1 writes them (RFC 1123, RFC 1036 and asctime forms) or as calendar times,
// kept both as text in one output form and as calendar time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class Date {
 public:
  Date() = default;

  // Recognises the form of a date text and converts it; -1 when the form is not recognised
  // or the text does not match it. A rejected text changes nothing but `status`.
  int convert_date(std::string text);

  // Converts a calendar time; writes the trace lines 7, 7, 7, 7. -1 (and no trace line)
  // when its year lies outside 0 to 9999, which the output form cannot show.
  int convert_date(std::time_t seconds);

  // Converts the current time; writes 11 trace lines: 1 to 5, the four of convert_date
  // (7 each), then 6 and 7.
  int current_time();

  // Convert a text in the named form; -1 when the text does not match it.
  int convert_from_rfc1123(std::string text);
  int convert_from_rfc1036(std::string text);
  int convert_from_asctime(std::string text);

  // Reads the text according to the format (the conversions %a %A %b %d %H %M %S %Y %y and
  // %%, blanks and literal characters) as a time in UTC. Sets the three texts and both time
  // members, or returns -1 and changes nothing when the text does not match the format.
  int convert_from_any(std::string text, std::string format);

  std::int32_t status = 0;
  std::string text1;  // the date in the output form "%a, %d %b %Y %X GMT"
  std::string text2;  // same as text1
  std::string text3;  // same as text1
  std::time_t time_value = 0;
  std::time_t text_time = 0;  // calendar time of the last converted text
};
