// Text forms that the tracker's files and setlist's outputs share: numbers with leading
// zeros, UTF-8 (and Latin-1 read as UTF-8), control characters and JSON strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Decimal digits of value, with leading zeros up to width; a negative value is written as 0.
void appendNumber(std::uint64_t value, int width, std::string* out);
void appendNumber(std::int64_t value, int width, std::string* out);
inline void appendNumber(int value, int width, std::string* out) {
  appendNumber(std::int64_t{value}, width, out);
}

// The length of the UTF-8 sequence at the start of text, 0 when it is not one (no overlong
// forms, no surrogates, at most U+10FFFF).
std::size_t utf8Length(std::string_view text);

// Whether text is well-formed UTF-8.
bool isUtf8(std::string_view text);

// The characters of UTF-8 text: the bytes that are not continuation bytes (10xxxxxx).
std::size_t utf8Characters(std::string_view text);

// The bytes of text's first `characters` characters: where to cut it without cutting one.
std::size_t utf8Prefix(std::string_view text, std::size_t characters);

// U+FFFD as UTF-8: what stands for a byte or an escape that is no character.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Appends the UTF-8 form of a character.
void appendUtf8(char32_t c, std::string* out);

// Appends the UTF-8 form of Latin-1 text.
void appendLatin1AsUtf8(std::string_view latin1, std::string* utf8);

// A control character at text[i] (C0, DEL, or C1 as UTF-8 C2 80 to C2 9F): its length in
// bytes, else 0.
std::size_t controlAt(std::string_view text, std::size_t i);

// Text from elsewhere (a server's message, a file) as it may be shown on a terminal: each
// control character as \xNN (C1 as \u00NN) and each byte that is not part of UTF-8 as
// \xNN, so that no escape sequence in it reaches the terminal.
std::string printableText(std::string_view text);

// Where a JSON string is to stand: in a file, or also inside a page's script, where the
// markup characters and the two line separators that end a line in JavaScript are escaped.
enum class JsonText { kPlain, kForPage };

// Appends text as a JSON string: '"' and '\' escaped, control characters escaped, every
// other character as its UTF-8 bytes; a byte that is not part of UTF-8 becomes U+FFFD, so
// the string is always valid.
void appendJsonString(std::string_view text, std::string* out, JsonText form = JsonText::kPlain);

// The items of a comma-separated list, blanks around each removed; empty items are left out.
std::vector<std::string> splitList(std::string_view text);
