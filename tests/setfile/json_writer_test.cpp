#include "setfile/json_writer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// The bytes of the set log, the web bodies, the accounts file, setlist's JSON and the
// live page's texts all come from these few moves: commas only between items, the spaced
// form's ", " and ": ", line breaks before items and before a closing bracket, escapes.
TEST(JsonWriter, WritesEachFormByteForByte) {
  using Style = JsonWriter::Style;
  struct Case {
    Style style;
    JsonText form;
    std::function<void(JsonWriter&)> write;
    std::string_view json;
  };
  const Case cases[] = {
      {Style::kCompact, JsonText::kPlain,
       [](JsonWriter& j) {
         j.beginObject();
         j.name("at");
         j.number(-12);
         j.name("in");
         j.beginObject();
         j.name("a\"b");
         j.string("c\\d\n");
         j.endObject();
         j.name("none");
         j.null();
         j.endObject();
       },
       R"({"at":-12,"in":{"a\"b":"c\\d\u000a"},"none":null})"},
      {Style::kSpaced, JsonText::kPlain,
       [](JsonWriter& j) {
         j.beginObject();
         j.name("time");
         j.stringFrom([](std::string* out) { out->append("23:08"); });
         j.name("list");
         j.beginArray();
         j.string("x");
         j.number(2);
         j.endArray();
         j.lineBreak(" ");
         j.name("empty");
         j.beginObject();
         j.endObject();
         j.endObject();
       },
       "{\"time\": \"23:08\", \"list\": [\"x\", 2],\n \"empty\": {}}"},
      {Style::kCompact, JsonText::kForPage,
       [](JsonWriter& j) {
         j.beginArray();
         for (const char* text : {"</script>", "&"}) {
           j.lineBreak("  ");
           j.string(text);
         }
         j.lineBreak("");
         j.endArray();
       },
       "[\n  \"\\u003c/script\\u003e\",\n  \"\\u0026\"\n]"},
  };
  for (const Case& c : cases) {
    std::string out;
    JsonWriter json(&out, c.style, c.form);
    c.write(json);
    EXPECT_EQ(out, c.json);
  }
}

}  // namespace
