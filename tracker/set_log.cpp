#include "tracker/set_log.h"

#include "tracker/text.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

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
    *unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[static_cast<std::size_t>(i)];
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      *unit = *unit * 16 + static_cast<char32_t>(digit);
    }
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
      out->append(kReplacement);
    } else {
      appendUtf8(unit, out);
    }
    return true;
  }

  std::string_view text_;
};

// The number of `count` digits at the start of text; -1 when one of them is not a digit.
int digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

LocalStamp localStamp(std::time_t time) {
  LocalStamp stamp;
  const std::tm* local = std::localtime(&time);
  if (local == nullptr) return stamp;
  stamp.local = *local;
  stamp.utcOffset = static_cast<int>(clockSeconds(stamp.local) - static_cast<std::int64_t>(time));
  return stamp;
}

std::int64_t clockSeconds(const std::tm& time) {
  return daysFromCivil(std::int64_t{time.tm_year} + 1900, time.tm_mon + 1, time.tm_mday) * 86400 +
         time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}

bool isCalendarDay(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

void appendIsoDate(const std::tm& time, std::string* out) {
  appendNumber(time.tm_year + 1900, 4, out);
  out->push_back('-');
  appendNumber(time.tm_mon + 1, 2, out);
  out->push_back('-');
  appendNumber(time.tm_mday, 2, out);
}

void appendIsoDateTime(const std::tm& time, std::string* out) {
  appendIsoDate(time, out);
  out->push_back('T');
  appendNumber(time.tm_hour, 2, out);
  out->push_back(':');
  appendNumber(time.tm_min, 2, out);
  out->push_back(':');
  appendNumber(time.tm_sec, 2, out);
}

void appendIsoStamp(const LocalStamp& stamp, std::string* out) {
  appendIsoDateTime(stamp.local, out);
  const int minutes = (stamp.utcOffset < 0 ? -stamp.utcOffset : stamp.utcOffset) / 60;
  out->push_back(stamp.utcOffset < 0 ? '-' : '+');
  appendNumber(minutes / 60, 2, out);
  out->push_back(':');
  appendNumber(minutes % 60, 2, out);
}

bool parseIsoStamp(std::string_view text, LocalStamp* stamp) {
  // "YYYY-MM-DDThh:mm:ss" then "Z" or "+hh:mm" / "-hh:mm".
  if (text.size() != 20 && text.size() != 25) return false;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
    return false;
  }
  const int year = digits(text, 0, 4);
  const int month = digits(text, 5, 2);
  const int day = digits(text, 8, 2);
  const int hour = digits(text, 11, 2);
  const int minute = digits(text, 14, 2);
  const int second = digits(text, 17, 2);
  if (year < 0 || !isCalendarDay(year, month, day) || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60) {
    return false;
  }
  int offset = 0;
  if (text.size() == 20) {
    if (text[19] != 'Z') return false;
  } else {
    const int offsetHours = digits(text, 20, 2);
    const int offsetMinutes = digits(text, 23, 2);
    if ((text[19] != '+' && text[19] != '-') || text[22] != ':' || offsetHours < 0 ||
        offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59) {
      return false;
    }
    offset = (offsetHours * 60 + offsetMinutes) * 60 * (text[19] == '-' ? -1 : 1);
  }
  *stamp = LocalStamp{};
  stamp->local.tm_year = year - 1900;
  stamp->local.tm_mon = month - 1;
  stamp->local.tm_mday = day;
  stamp->local.tm_hour = hour;
  stamp->local.tm_min = minute;
  stamp->local.tm_sec = second;
  stamp->utcOffset = offset;
  return true;
}

std::string formatSetLogLine(const SetLogLine& line) {
  std::string text = "{\"time\":\"";
  appendIsoStamp(line.time, &text);
  text += "\",\"deck\":\"";
  text += deckLetter(line.deck);
  text += "\",\"artist\":";
  appendJsonString(line.track.artist, &text);
  text += ",\"song\":";
  appendJsonString(line.track.song, &text);
  text += ",\"album\":";
  appendJsonString(line.track.album, &text);
  if (line.loaded) {
    text += ",\"loaded\":\"";
    appendIsoStamp(*line.loaded, &text);
    text += '"';
  }
  text += '}';
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
