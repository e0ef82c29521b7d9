#include "publish/track_rules.h"

#include <algorithm>
#include <array>
#include <ctime>

#include "platform/report.h"
#include "setfile/clock.h"
#include "setfile/text.h"

namespace {

constexpr std::uint64_t kMostByArtist = 4;
constexpr std::uint64_t kMostByArtistInARow = 3;
constexpr std::uint64_t kMostFromAlbum = 3;
constexpr std::uint64_t kMostFromAlbumInARow = 2;

bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The lower-case form of a capital letter; other characters stay.
char32_t lowerCase(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;     // Latin-1
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

// The code point of the UTF-8 sequence of `length` bytes at the start of text.
char32_t decode(std::string_view text, std::size_t length) {
  const auto byte = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(text[i]));
  };
  if (length == 1) return byte(0);
  char32_t c = byte(0) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (byte(i) & 0x3F);
  return c;
}

// "1st", "2nd", "3rd", "4th", "11th", "21st".
std::string ordinal(std::uint64_t n) {
  std::string text = std::to_string(n);
  const std::uint64_t tens = n % 100;
  if (tens >= 11 && tens <= 13) return text + "th";
  switch (n % 10) {
    case 1:
      return text + "st";
    case 2:
      return text + "nd";
    case 3:
      return text + "rd";
    default:
      return text + "th";
  }
}

// Where a "feat." word begins in the ASCII lower-case form of an artist field, from
// `from`: the word stands after the start, a space or an opening bracket, and before a
// space. *length is set to its length.
std::size_t findFeaturing(std::string_view lower, std::size_t from, std::size_t* length) {
  static constexpr std::array<std::string_view, 3> kWords = {"feat.", "ft.", "featuring"};
  for (std::size_t i = from; i < lower.size(); ++i) {
    if (i > 0 && !isSpace(lower[i - 1]) && lower[i - 1] != '(' && lower[i - 1] != '[') continue;
    for (const std::string_view word : kWords) {
      const std::size_t end = i + word.size();
      if (lower.substr(i, word.size()) == word && end < lower.size() && isSpace(lower[end])) {
        *length = word.size();
        return i;
      }
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::string foldName(std::string_view name) {
  name = trim(name);
  std::string folded;
  folded.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = utf8Length(name.substr(i));
    if (length == 0) {  // not UTF-8: the byte as it is
      folded.push_back(name[i++]);
      continue;
    }
    appendUtf8(lowerCase(decode(name.substr(i), length)), &folded);
    i += length;
  }
  return folded;
}

std::vector<std::string> artistsOf(std::string_view artistField) {
  std::string lower(artistField);
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
  std::vector<std::string> artists;
  const auto take = [&](std::string_view part) {
    part = trim(part);
    // Brackets around a "feat." part: "A (feat. B)".
    while (!part.empty() &&
           (part.back() == '(' || part.back() == '[' || part.back() == ')' || part.back() == ']')) {
      part = trim(part.substr(0, part.size() - 1));
    }
    if (!part.empty()) artists.emplace_back(part);
  };
  std::size_t begin = 0;
  std::size_t length = 0;
  for (std::size_t at = findFeaturing(lower, 0, &length); at != std::string_view::npos;
       at = findFeaturing(lower, begin, &length)) {
    take(artistField.substr(begin, at - begin));
    begin = at + length;
  }
  take(artistField.substr(begin));
  return artists;
}

std::string describeRule(const BrokenRule& rule) {
  const bool artist = rule.kind == RuleKind::kArtist || rule.kind == RuleKind::kArtistInARow;
  const bool inARow = rule.kind == RuleKind::kArtistInARow || rule.kind == RuleKind::kAlbumInARow;
  std::string text = ordinal(rule.count) + " track";
  if (inARow) text += " in a row";
  text += artist ? " by " : " from ";
  text += rule.name;
  if (!inARow) text += " within 3 hours";
  return text + " (at most " + std::to_string(rule.limit) + ")";
}

RuleHistory::Entry RuleHistory::entryOf(const RuleTrack& track) {
  Entry entry{track.seconds, {}, foldName(track.album)};
  for (const std::string& artist : artistsOf(track.artist)) {
    std::string folded = foldName(artist);
    if (std::find(entry.artists.begin(), entry.artists.end(), folded) == entry.artists.end()) {
      entry.artists.push_back(std::move(folded));
    }
  }
  return entry;
}

std::vector<BrokenRule> RuleHistory::check(const RuleTrack& next) const {
  const Entry entry = entryOf(next);
  const std::vector<std::string> shown = artistsOf(next.artist);
  std::vector<BrokenRule> broken;
  // Counts the tracks for which `holds` is true, this one included: within the window, and
  // in an unbroken run ending with it.
  const auto count = [&](auto holds, RuleKind kind, RuleKind rowKind, std::uint64_t most,
                         std::uint64_t mostInARow, const std::string& name) {
    std::uint64_t within = 1;
    std::uint64_t inARow = 1;
    bool row = true;
    for (auto it = played_.rbegin();
         it != played_.rend() && entry.seconds - it->seconds < kRuleWindowSeconds; ++it) {
      const bool match = holds(*it);
      within += match ? 1 : 0;
      row = row && match;
      inARow += row ? 1 : 0;
    }
    if (within > most) broken.push_back({kind, name, within, most});
    if (inARow > mostInARow) broken.push_back({rowKind, name, inARow, mostInARow});
  };
  std::vector<std::string> counted;  // an artist named twice in one field counts once
  for (const std::string& artist : shown) {
    const std::string key = foldName(artist);
    if (std::find(counted.begin(), counted.end(), key) != counted.end()) continue;
    counted.push_back(key);
    const auto byArtist = [&](const Entry& e) {
      return std::find(e.artists.begin(), e.artists.end(), key) != e.artists.end();
    };
    count(byArtist, RuleKind::kArtist, RuleKind::kArtistInARow, kMostByArtist, kMostByArtistInARow,
          artist);
  }
  if (!entry.album.empty()) {
    count([&](const Entry& e) { return e.album == entry.album; }, RuleKind::kAlbum,
          RuleKind::kAlbumInARow, kMostFromAlbum, kMostFromAlbumInARow,
          std::string(trim(next.album)));
  }
  return broken;
}

void RuleHistory::add(const RuleTrack& track) { played_.push_back(entryOf(track)); }

std::vector<std::string> LoadWarnings::poll(const Track& left, const Track& right,
                                            const PollReports& reports, std::int64_t now) {
  for (int i = 0; i < reports.count; ++i) {
    const int deck = static_cast<int>(reports.decks[i]);
    const Track& track = reports.tracks[i];
    played_.add({seen_[deck] == track ? since_[deck] : now, track.artist, track.song, track.album});
  }
  std::vector<std::string> lines;
  const Track* decks[2] = {&left, &right};
  for (int deck = 0; deck < 2; ++deck) {
    const Track& track = *decks[deck];
    if (track == seen_[deck]) continue;
    seen_[deck] = track;
    since_[deck] = now;
    if (track.artist.empty() && track.song.empty() && track.album.empty()) continue;
    // Both decks changed within one poll: a track reported at once is played, not next.
    bool reported = false;
    for (int i = 0; i < reports.count; ++i) {
      reported =
          reported || (static_cast<int>(reports.decks[i]) == deck && reports.tracks[i] == track);
    }
    if (reported) continue;
    for (const BrokenRule& rule : played_.check({now, track.artist, track.song, track.album})) {
      lines.push_back(std::string(deckLetter(static_cast<Deck>(deck))) + " deck: " + track.artist +
                      " - " + track.song + " would be the " + describeRule(rule));
    }
  }
  return lines;
}

std::vector<std::string> brokenRuleLines(const std::vector<Record>& tracks) {
  RuleHistory history;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const Record& record = tracks[i];
    // On the UTC clock where the set log gives the offset, so that a change of daylight
    // saving time neither widens nor narrows a window.
    std::int64_t seconds = record.loaded
                               ? clockSeconds(record.loaded->local) - record.loaded->utcOffset
                               : clockSeconds(record.time) - record.utcOffset.value_or(0);
    const RuleTrack track{seconds, record.track.artist, record.track.song, record.track.album};
    for (const BrokenRule& rule : history.check(track)) {
      std::string line = "#";
      line.append(std::to_string(i + 1)).push_back(' ');
      appendTimeOfDay(record.time, &line);
      lines.push_back(line + " " + track.artist + " - " + track.song + ": " + describeRule(rule));
    }
    history.add(track);
  }
  return lines;
}

void warnOfLoads(LoadWarnings& warnings, const Track& left, const Track& right,
                 const PollReports& reports) {
  const std::vector<std::string> lines =
      warnings.poll(left, right, reports, static_cast<std::int64_t>(std::time(nullptr)));
  for (const std::string& line : lines) platform::reportWarning(line);
}
