// A JSON value read from a web service's answer or the accounts file.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::kNull; }
  bool boolean() const { return kind_ == Kind::kBool && boolean_; }
  double number() const { return kind_ == Kind::kNumber ? number_ : 0; }
  // The text of a string, or of a number as it was written; empty for anything else.
  const std::string& string() const { return text_; }
  const std::vector<JsonValue>& array() const { return items_; }
  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
  // The member of that name; a null value when absent or when this is not an object.
  const JsonValue& operator[](std::string_view key) const;

 private:
  friend class JsonParser;
  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  double number_ = 0;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// Reads one JSON value (RFC 8259, UTF-8, nesting at most 64 deep); the error says where
// and why it is not JSON. Its subject is empty: the caller names the source.
platform::Expected<JsonValue> parseJson(std::string_view text);
