// The one JSON writer: objects and arrays with their separators, members' names, strings
// (escaped by appendJsonString), numbers and null, in the compact form of the set log and
// the web bodies ("a":1,"b":2) or the spaced form of the files people read ("a": 1, "b": 2).
// Line breaks between items are the caller's to ask for; the writer keeps the commas right.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "setfile/text.h"
#include "setfile/track.h"

class JsonWriter {
 public:
  enum class Style { kCompact, kSpaced };

  explicit JsonWriter(std::string* out, Style style = Style::kCompact,
                      JsonText form = JsonText::kPlain)
      : out_(out), style_(style), form_(form) {}

  void beginObject() { open('{'); }
  void endObject() { close('}'); }
  void beginArray() { open('['); }
  void endArray() { close(']'); }

  // A member's name; its value follows.
  void name(std::string_view name);
  void string(std::string_view value);
  void number(std::int64_t value);
  void null();
  // A string that `append` writes and that needs no escaping (a clock stamp, a deck letter).
  template <class Append>
  void stringFrom(Append append) {
    beforeValue();
    out_->push_back('"');
    append(out_);
    out_->push_back('"');
  }
  // A line break and `indent` (a text that outlives the next item) before the next item, or
  // before the closing bracket.
  void lineBreak(std::string_view indent) {
    lineBreak_ = true;
    indent_ = indent;
  }

 private:
  static constexpr int kDeepest = 32;

  void open(char bracket);
  void close(char bracket);
  // The comma (and line break) before an item that is not its container's first.
  void beforeValue();
  void writeLineBreak();

  std::string* out_;
  Style style_;
  JsonText form_;
  std::uint32_t hasItems_ = 0;  // bit d: the container at depth d holds an item
  int depth_ = 0;
  bool afterName_ = false;
  bool lineBreak_ = false;
  std::string_view indent_;
};

// The "artist", "song" and "album" members of a track, as the set log and setlist's JSON
// write them.
void appendTrackMembers(const Track& track, JsonWriter& json);
