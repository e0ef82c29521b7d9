#include "online/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A compact form of a parsed value, to compare whole trees in one line.
std::string show(const JsonValue& v) {
  switch (v.kind()) {
    case JsonValue::Kind::kNull:
      return "null";
    case JsonValue::Kind::kBool:
      return v.boolean() ? "true" : "false";
    case JsonValue::Kind::kNumber:
      return "#" + v.string();
    case JsonValue::Kind::kString:
      return "'" + v.string() + "'";
    case JsonValue::Kind::kArray: {
      std::string out = "[";
      for (const JsonValue& item : v.array()) out += show(item) + ",";
      return out + "]";
    }
    case JsonValue::Kind::kObject: {
      std::string out = "{";
      for (const auto& [key, item] : v.members()) out += key + ":" + show(item) + ",";
      return out + "}";
    }
  }
  return "?";
}

TEST(Json, ReadsValuesAndRefusesWhatIsNotJson) {
  struct Case {
    std::string text;
    std::string value;  // show() of the value; empty: an error
    std::string error;  // a part of the error text
  };
  const std::string deep(64, '[');
  std::string deepShown = deep + "]";
  for (int i = 1; i < 64; ++i) deepShown += ",]";
  const Case cases[] = {
      {" {\"a\": [1, -0.5e+3, true, false, null], \"b\": {}} ",
       "{a:[#1,#-0.5e+3,true,false,null,],b:{},}", ""},
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "'\"\\/\b\f\n\r\t'", ""},
      {"\"\\u00e9\\u65E5\\ud83c\\udfb5\"", "'\xC3\xA9\xE6\x97\xA5\xF0\x9F\x8E\xB5'", ""},
      {"\"\xC3\xA9\xF0\x9F\x8E\xB5\"", "'\xC3\xA9\xF0\x9F\x8E\xB5'", ""},
      {"123456789012345678901234567890", "#123456789012345678901234567890", ""},
      {deep + std::string(64, ']'), deepShown, ""},
      {"", "", "byte 0: unexpected end"},
      {"[1,]", "", "byte 3: unexpected character"},
      {"{\"a\" 1}", "", "byte 5: expected ':'"},
      {"{a:1}", "", "byte 1: expected a member name"},
      {"[1 2]", "", "byte 3: expected ',' or ']'"},
      {"01", "", "byte 1: unexpected text after"},
      {"-", "", "byte 1: expected a digit"},
      {"1.", "", "byte 2: expected a digit"},
      {"1e", "", "byte 2: expected a digit"},
      {"+1", "", "byte 0: unexpected character"},
      {"tru", "", "byte 0: unknown word"},
      {"\"abc", "", "byte 4: unterminated string"},
      {"\"a\nb\"", "", "byte 2: control character"},
      {"\"\\x\"", "", "byte 2: unknown escape"},
      {"\"\\u12g4\"", "", "bad \\u escape"},
      {"\"\\u12\"", "", "incomplete \\u escape"},
      {"\"\\ud83c\"", "", "high surrogate without its low half"},
      {"\"\\ud83c\\u0041\"", "", "high surrogate without its low half"},
      {"\"\\udfb5\"", "", "lone low surrogate"},
      {"\"\xC3\"", "", "byte 1: invalid UTF-8"},
      {"\"\xC0\xAF\"", "", "invalid UTF-8"},
      {"\"\xED\xA0\x80\"", "", "invalid UTF-8"},
      {"\"\xF4\x90\x80\x80\"", "", "invalid UTF-8"},
      {deep + "[]" + std::string(64, ']'), "", "byte 64: nested deeper than 64"},
      {"{} {}", "", "byte 3: unexpected text after"},
  };
  for (const Case& c : cases) {
    const auto parsed = parseJson(c.text);
    if (c.value.empty()) {
      ASSERT_FALSE(parsed.ok()) << c.text;
      EXPECT_NE(parsed.error().text.find(c.error), std::string::npos)
          << c.text << ": " << parsed.error().text;
      EXPECT_EQ(parsed.error().subject, "");
    } else {
      ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.error().text;
      EXPECT_EQ(show(*parsed), c.value) << c.text;
    }
  }
}

TEST(Json, LooksUpMembersAndNumbers) {
  const auto parsed = parseJson(R"({"n": 2.5, "s": "x", "o": {"k": [7]}})");
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ((*parsed)["n"].number(), 2.5);
  EXPECT_EQ((*parsed)["o"]["k"].array().at(0).number(), 7);
  EXPECT_TRUE((*parsed)["missing"].isNull());
  EXPECT_TRUE((*parsed)["s"]["k"].isNull());
  EXPECT_EQ((*parsed)["s"].number(), 0);
}

}  // namespace
