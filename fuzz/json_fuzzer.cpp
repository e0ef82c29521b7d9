// Fuzz target: the JSON reader that reads web services' answers and the accounts file.
//
// Whatever the input, the reader returns. A value it accepts holds UTF-8 texts only, and
// written out again (strings through the JSON writer, numbers as they were written) it
// reads back as the same value. A refusal names a byte inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "online/json.h"
#include "setfile/text.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

void write(const JsonValue& value, std::string* out) {
  switch (value.kind()) {
    case JsonValue::Kind::kNull:
      out->append("null");
      break;
    case JsonValue::Kind::kBool:
      out->append(value.boolean() ? "true" : "false");
      break;
    case JsonValue::Kind::kNumber:
      out->append(value.string());
      break;
    case JsonValue::Kind::kString:
      check(isUtf8(value.string()), "a string is UTF-8");
      appendJsonString(value.string(), out);
      break;
    case JsonValue::Kind::kArray:
      out->append("[");
      for (const JsonValue& item : value.array()) {
        write(item, out);
        out->append(",");
      }
      if (!value.array().empty())
        out->back() = ']';
      else
        out->append("]");
      break;
    case JsonValue::Kind::kObject:
      out->append("{");
      for (const auto& [key, item] : value.members()) {
        check(isUtf8(key), "a member name is UTF-8");
        appendJsonString(key, out);
        out->append(":");
        write(item, out);
        out->append(",");
      }
      if (!value.members().empty())
        out->back() = '}';
      else
        out->append("}");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto parsed = parseJson(input);
  if (!parsed) {
    const std::string& text = parsed.error().text;
    const std::size_t at = std::strtoull(text.c_str() + text.find("byte ") + 5, nullptr, 10);
    check(text.rfind("not JSON at byte ", 0) == 0 && at <= size, "a refusal names a byte");
    return 0;
  }
  std::string again;
  write(*parsed, &again);
  const auto reparsed = parseJson(again);
  check(reparsed.ok(), "the value written out reads back");
  std::string third;
  write(*reparsed, &third);
  check(third == again, "the value written out reads back the same");
  return 0;
}
