#include "setfile/set_log_line.h"

#include "platform/ascii.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

namespace {

// Reads a JSON text one token at a time.
class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text) : text_(text) {}

  void skipSpace() {
    while (!text_.empty() &&
           (text_[0] == ' ' || text_[0] == '\t' || text_[0] == '\n' || text_[0] == '\r')) {
      text_.remove_prefix(1);
    }
  }
  // Takes c (after white space) when it comes next.
  bool take(char c) {
    skipSpace();
    if (text_.empty() || text_[0] != c) return false;
    text_.remove_prefix(1);
    return true;
  }
  bool atEnd() {
    skipSpace();
    return text_.empty();
  }
  // A string, decoded into *out.
  bool string(std::string* out) {
    out->clear();
    if (!take('"')) return false;
    while (!text_.empty()) {
      const auto byte = static_cast<unsigned char>(text_[0]);
      if (byte == '"') {
        text_.remove_prefix(1);
        return true;
      }
      if (byte < 0x20) return false;
      if (byte == '\\') {
        if (!escape(out)) return false;
        continue;
      }
      const std::size_t length = utf8Length(text_);
      if (length == 0) return false;
      out->append(text_.substr(0, length));
      text_.remove_prefix(length);
    }
    return false;
  }

 private:
  // Four hex digits after "\u".
  bool hex4(char32_t* unit) {
    if (text_.size() < 4) return false;
    const long value = platform::readHex(text_, 4);
    if (value < 0) return false;
    *unit = static_cast<char32_t>(value);
    text_.remove_prefix(4);
    return true;
  }

  bool escape(std::string* out) {
    if (text_.size() < 2) return false;
    const char kind = text_[1];
    text_.remove_prefix(2);
    switch (kind) {
      case '"':
      case '\\':
      case '/':
        out->push_back(kind);
        return true;
      case 'b':
        out->push_back('\b');
        return true;
      case 'f':
        out->push_back('\f');
        return true;
      case 'n':
        out->push_back('\n');
        return true;
      case 'r':
        out->push_back('\r');
        return true;
      case 't':
        out->push_back('\t');
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    char32_t unit;
    if (!hex4(&unit)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(0, 2) == "\\u") {
      // A high surrogate: a character when a low one follows.
      std::string_view saved = text_;
      text_.remove_prefix(2);
      char32_t low;
      if (!hex4(&low)) return false;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
        return true;
      }
      text_ = saved;  // the next escape stands on its own
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      out->append(kReplacementCharacter);
    } else {
      appendUtf8(unit, out);
    }
    return true;
  }

  std::string_view text_;
};

}  // namespace

std::string formatSetLogLine(const SetLogLine& line) {
  std::string text;
  JsonWriter json(&text);
  json.beginObject();
  json.name("time");
  json.stringFrom([&](std::string* out) { appendIsoStamp(line.time, out); });
  json.name("deck");
  json.string(deckLetter(line.deck));
  appendTrackMembers(line.track, json);
  if (line.loaded) {
    json.name("loaded");
    json.stringFrom([&](std::string* out) { appendIsoStamp(*line.loaded, out); });
  }
  json.endObject();
  return text;
}

std::string formatSetLogLine(std::time_t time, Deck deck, const Track& track, std::time_t loaded) {
  return formatSetLogLine(SetLogLine{localStamp(time), deck, track, localStamp(loaded)});
}

bool parseSetLogLine(std::string_view text, SetLogLine* line) {
  JsonCursor json(text);
  if (!json.take('{')) return false;
  SetLogLine parsed;
  enum Member { kTime, kDeck, kArtist, kSong, kAlbum, kLoaded, kOther };
  bool seen[kOther] = {};
  std::string name;
  std::string value;
  if (!json.take('}')) {
    do {
      if (!json.string(&name) || !json.take(':') || !json.string(&value)) return false;
      Member member = kOther;
      if (name == "time") {
        member = kTime;
        if (!parseIsoStamp(value, &parsed.time)) return false;
      } else if (name == "deck") {
        member = kDeck;
        if (value != "L" && value != "R") return false;
        parsed.deck = value == "L" ? Deck::kLeft : Deck::kRight;
      } else if (name == "artist") {
        member = kArtist;
        parsed.track.artist = value;
      } else if (name == "song") {
        member = kSong;
        parsed.track.song = value;
      } else if (name == "album") {
        member = kAlbum;
        parsed.track.album = value;
      } else if (name == "loaded") {
        member = kLoaded;
        if (!parseIsoStamp(value, &parsed.loaded.emplace())) return false;
      }
      if (member != kOther) {
        if (seen[member]) return false;
        seen[member] = true;
      }
    } while (json.take(','));
    if (!json.take('}')) return false;
  }
  if (!json.atEnd()) return false;
  for (int member = kTime; member <= kAlbum; ++member) {
    if (!seen[member]) return false;
  }
  *line = std::move(parsed);
  return true;
}
