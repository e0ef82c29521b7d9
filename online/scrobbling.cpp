#include "online/scrobbling.h"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "online/json.h"
#include "setfile/clock.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

std::int64_t utcSeconds(const std::tm& local, int utcOffset) {
  return clockSeconds(local) - utcOffset;
}

std::optional<Listen> listenOf(const Record& record) {
  if (record.track.artist.empty() || record.track.song.empty()) return std::nullopt;
  Listen listen;
  listen.deck = record.deck;
  listen.track = record.track;
  if (record.loaded) {
    listen.at = utcSeconds(record.loaded->local, record.loaded->utcOffset);
  } else if (record.utcOffset) {
    listen.at = utcSeconds(record.time, *record.utcOffset);
  } else {
    std::tm local = record.time;
    local.tm_isdst = -1;
    listen.at = static_cast<std::int64_t>(std::mktime(&local));
  }
  return listen;
}

// ---- The sent file ---------------------------------------------------------------------

std::string sentFileBeside(const std::string& setPath) {
  std::string base = setPath;
  for (const std::string_view ending : {".txt", ".jsonl"}) {
    if (base.size() > ending.size() && base.ends_with(ending)) {
      base.resize(base.size() - ending.size());
      break;
    }
  }
  return base + ".scrobbled";
}

bool isAccountName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

namespace {

void appendEscaped(std::string_view text, std::string* out) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        *out += "\\\\";
        break;
      case '\t':
        *out += "\\t";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      default:
        *out += c;
    }
  }
}

bool unescape(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        *out += '\\';
        break;
      case 't':
        *out += '\t';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

// The integer that is all of text, if it is one.
std::optional<std::int64_t> wholeNumber(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

std::string formatSentLine(std::string_view account, const Listen& listen) {
  std::string line(account);
  line += '\t';
  line += std::to_string(listen.at);
  line += '\t';
  line += deckLetter(listen.deck);
  for (const std::string* text : {&listen.track.artist, &listen.track.song, &listen.track.album}) {
    line += '\t';
    appendEscaped(*text, &line);
  }
  return line;
}

bool parseSentLine(std::string_view line, std::string* account, Listen* listen) {
  std::string_view fields[6];
  std::size_t count = 0;
  while (count < 6) {
    const std::size_t tab = line.find('\t');
    fields[count++] = line.substr(0, tab);
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
    if (count == 6) return false;  // a seventh field
  }
  if (count != 6 || !isAccountName(fields[0])) return false;
  const auto at = wholeNumber(fields[1]);
  if (!at || (fields[2] != "L" && fields[2] != "R")) return false;
  Listen parsed;
  parsed.at = *at;
  parsed.deck = fields[2] == "L" ? Deck::kLeft : Deck::kRight;
  if (!unescape(fields[3], &parsed.track.artist) || !unescape(fields[4], &parsed.track.song) ||
      !unescape(fields[5], &parsed.track.album)) {
    return false;
  }
  *account = fields[0];
  *listen = std::move(parsed);
  return true;
}

SentListens parseSentFile(std::string_view contents) {
  SentListens sent;
  sent.endsInLineEnd = contents.empty() || contents.back() == '\n';
  while (!contents.empty()) {
    const std::size_t end = contents.find('\n');
    if (end == std::string_view::npos) break;  // cut short by a crash: not taken
    const std::string_view line = contents.substr(0, end);
    contents.remove_prefix(end + 1);
    if (line.empty() || line[0] == '#') continue;
    std::string account;
    Listen listen;
    if (parseSentLine(line, &account, &listen)) {
      sent.accepted.emplace(std::move(account), std::move(listen));
    } else {
      ++sent.badLines;
    }
  }
  return sent;
}

// ---- Requests ---------------------------------------------------------------------------

namespace {

void appendListenBrainzListen(const Listen& listen, std::string_view version, std::string* out) {
  JsonWriter json(out);
  json.beginObject();
  json.name("listened_at");
  json.number(listen.at);
  json.name("track_metadata");
  json.beginObject();
  json.name("artist_name");
  json.string(listen.track.artist);
  json.name("track_name");
  json.string(listen.track.song);
  if (!listen.track.album.empty()) {
    json.name("release_name");
    json.string(listen.track.album);
  }
  json.name("additional_info");
  json.beginObject();
  json.name("submission_client");
  json.string("Zorvanthelix setlist");
  json.name("submission_client_version");
  json.string(version);
  json.endObject();
  json.endObject();
  json.endObject();
}

}  // namespace

std::size_t listenBrainzBody(std::span<const Listen> listens, std::size_t first,
                             std::string_view version, std::string* body) {
  constexpr std::string_view kEnd = "]}";
  *body = "{\"listen_type\":\"import\",\"payload\":[";
  std::string one;
  std::size_t taken = 0;
  for (std::size_t i = first; i < listens.size() && taken < kListenBrainzMostListens; ++i) {
    one.clear();
    if (taken > 0) one += ',';
    appendListenBrainzListen(listens[i], version, &one);
    if (taken > 0 && body->size() + one.size() + kEnd.size() > kListenBrainzMostBytes) break;
    *body += one;
    ++taken;
  }
  *body += kEnd;
  return taken;
}

std::size_t lastfmScrobbleFields(std::span<const Listen> listens, std::size_t first,
                                 const std::string& apiKey, const std::string& sessionKey,
                                 std::vector<platform::Header>* fields) {
  *fields = {{"method", "track.scrobble"}, {"api_key", apiKey}, {"sk", sessionKey}};
  std::size_t taken = 0;
  for (std::size_t i = first; i < listens.size() && taken < kLastfmMostScrobbles; ++i, ++taken) {
    const Listen& listen = listens[i];
    const std::string index = "[" + std::to_string(taken) + "]";
    fields->push_back({"artist" + index, listen.track.artist});
    fields->push_back({"track" + index, listen.track.song});
    fields->push_back({"timestamp" + index, std::to_string(listen.at)});
    if (!listen.track.album.empty()) fields->push_back({"album" + index, listen.track.album});
  }
  return taken;
}

std::string lastfmSignatureBase(std::vector<platform::Header> fields, std::string_view secret) {
  std::sort(fields.begin(), fields.end(),
            [](const platform::Header& a, const platform::Header& b) { return a.name < b.name; });
  std::string base;
  for (const platform::Header& field : fields) {
    if (field.name == "format" || field.name == "callback") continue;
    base += field.name;
    base += field.value;
  }
  base += secret;
  return base;
}
