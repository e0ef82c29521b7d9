// A strict reader of JSON (RFC 8259): one value, surrounded by nothing but white space,
// in UTF-8, with every escape and surrogate pair of a string decoded. Recursion is bounded
// so that a hostile answer cannot exhaust the stack.
#include "online/json.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "platform/ascii.h"
#include "setfile/text.h"

namespace {

constexpr int kMaxDepth = 64;

const JsonValue& nullValue() {
  static const JsonValue value;
  return value;
}

}  // namespace

const JsonValue& JsonValue::operator[](std::string_view key) const {
  for (const auto& [name, value] : members_)
    if (name == key) return value;
  return nullValue();
}

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  platform::Expected<JsonValue> parse() {
    JsonValue value;
    skipSpace();
    if (!parseValue(value, 0)) return failure();
    skipSpace();
    if (pos_ < text_.size()) {
      fail("unexpected text after the value");
      return failure();
    }
    return value;
  }

 private:
  platform::Error failure() const {
    return platform::makeError("", "not JSON at byte " + std::to_string(errorAt_) + ": " + why_);
  }

  bool fail(std::string why) {
    if (why_.empty()) {
      why_ = std::move(why);
      errorAt_ = pos_;
    }
    return false;
  }

  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[pos_]; }

  void skipSpace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
      ++pos_;
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return fail("unknown word");
    pos_ += word.size();
    return true;
  }

  bool parseValue(JsonValue& value, int depth) {
    if (atEnd()) return fail("unexpected end of text");
    switch (peek()) {
      case '{':
        return parseObject(value, depth + 1);
      case '[':
        return parseArray(value, depth + 1);
      case '"':
        value.kind_ = JsonValue::Kind::kString;
        return parseString(value.text_);
      case 't':
        value.kind_ = JsonValue::Kind::kBool;
        value.boolean_ = true;
        return literal("true");
      case 'f':
        value.kind_ = JsonValue::Kind::kBool;
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return parseNumber(value);
    }
  }

  bool enter(int depth) {
    if (depth > kMaxDepth) return fail("nested deeper than " + std::to_string(kMaxDepth));
    ++pos_;
    skipSpace();
    return true;
  }

  // After an item: true with *more when a comma follows, false (an error) when neither
  // the comma nor the closing character does.
  bool next(char close, bool* more) {
    skipSpace();
    if (peek() == ',') {
      ++pos_;
      skipSpace();
      *more = true;
      return true;
    }
    if (peek() == close) {
      ++pos_;
      *more = false;
      return true;
    }
    return fail(atEnd() ? "unexpected end of text"
                        : std::string("expected ',' or '") + close + "'");
  }

  bool parseArray(JsonValue& value, int depth) {
    value.kind_ = JsonValue::Kind::kArray;
    if (!enter(depth)) return false;
    if (peek() == ']') {
      ++pos_;
      return true;
    }
    for (bool more = true; more;) {
      value.items_.emplace_back();
      if (!parseValue(value.items_.back(), depth) || !next(']', &more)) return false;
    }
    return true;
  }

  bool parseObject(JsonValue& value, int depth) {
    value.kind_ = JsonValue::Kind::kObject;
    if (!enter(depth)) return false;
    if (peek() == '}') {
      ++pos_;
      return true;
    }
    for (bool more = true; more;) {
      if (peek() != '"') return fail("expected a member name in quotes");
      auto& member = value.members_.emplace_back();
      if (!parseString(member.first)) return false;
      skipSpace();
      if (peek() != ':') return fail("expected ':' after a member name");
      ++pos_;
      skipSpace();
      if (!parseValue(member.second, depth) || !next('}', &more)) return false;
    }
    return true;
  }

  bool hex4(std::uint32_t* unit) {
    if (text_.size() - pos_ < 4) return fail("incomplete \\u escape");
    const char* begin = text_.data() + pos_;
    const long value = platform::readHex(std::string_view(begin, 4), 4);
    if (value < 0) return fail("bad \\u escape");
    *unit = static_cast<std::uint32_t>(value);
    pos_ += 4;
    return true;
  }

  // The escape after a backslash; pos_ is on the character after the backslash.
  bool parseEscape(std::string& out) {
    if (atEnd()) return fail("unexpected end of text in a string");
    const char c = text_[pos_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        return parseUnicodeEscape(out);
      default:
        --pos_;
        return fail("unknown escape");
    }
  }

  bool parseUnicodeEscape(std::string& out) {
    std::uint32_t unit = 0;
    if (!hex4(&unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("lone low surrogate");
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      std::uint32_t low = 0;
      if (text_.substr(pos_, 2) != "\\u") return fail("high surrogate without its low half");
      pos_ += 2;
      if (!hex4(&low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail("high surrogate without its low half");
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(static_cast<char32_t>(unit), &out);
    return true;
  }

  bool parseString(std::string& out) {
    ++pos_;  // the opening quote
    while (true) {
      if (atEnd()) return fail("unterminated string");
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\') {
        ++pos_;
        if (!parseEscape(out)) return false;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        return fail("control character in a string");
      } else {
        const std::size_t length = utf8Length(text_.substr(pos_));
        if (length == 0) return fail("invalid UTF-8");
        out.append(text_.substr(pos_, length));
        pos_ += length;
      }
    }
  }

  bool digits() {
    const std::size_t start = pos_;
    while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
    return pos_ > start || fail("expected a digit");
  }

  bool parseNumber(JsonValue& value) {
    const std::size_t start = pos_;
    if (peek() == '-') ++pos_;
    if (peek() == '0') {
      ++pos_;
    } else if (peek() < '1' || peek() > '9') {
      return fail(start == pos_ ? "unexpected character" : "expected a digit");
    } else if (!digits()) {
      return false;
    }
    if (peek() == '.') {
      ++pos_;
      if (!digits()) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (!digits()) return false;
    }
    value.kind_ = JsonValue::Kind::kNumber;
    value.text_ = text_.substr(start, pos_ - start);
    // Out of a double's range: from_chars leaves the number 0; the text stays exact.
    std::from_chars(value.text_.data(), value.text_.data() + value.text_.size(), value.number_);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t errorAt_ = 0;
  std::string why_;
};

platform::Expected<JsonValue> parseJson(std::string_view text) { return JsonParser(text).parse(); }
