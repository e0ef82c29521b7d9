#include "publish/title_clean.h"

#include <optional>
#include <vector>

#include "platform/ascii.h"

namespace {

// The built-in phrases; '#' stands for a digit. "extended mix", "radio edit", "remix" and
// "feat." are kept on purpose: they tell a different track or who is on it.
constexpr std::string_view kPhrases[] = {
    "original mix",
    "clean",
    "clean version",
    "explicit",
    "explicit version",
    "dirty",
    "dirty version",
    "remastered",
    "remaster",
    "remastered ####",
    "remaster ####",
    "#### remaster",
    "#### remastered",
    "official video",
    "official music video",
    "official audio",
    "official hd video",
    "official 4k video",
    "official hd",
    "official 4k",
    "hd",
    "4k",
};

// The extensions of audio files, taken off a title that looks like a file's name.
constexpr std::string_view kExtensions[] = {".mp3", ".flac", ".wav", ".aiff", ".m4a"};

// The dashes that part a title from a phrase after it: '-', the en dash and the em dash,
// and each between spaces.
constexpr std::string_view kDashes[] = {"-", "\u2013", "\u2014"};
constexpr std::string_view kPartings[] = {" - ", " \u2013 ", " \u2014 "};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isDash(std::string_view word) {
  for (const std::string_view dash : kDashes) {
    if (word == dash) return true;
  }
  return !word.empty() && word.find_first_not_of('-') == std::string_view::npos;
}

// The words of a text, between runs of spaces and tabs.
std::vector<std::string_view> wordsOf(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t i = 0; i < text.size();) {
    if (isBlank(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !isBlank(text[end])) ++end;
    words.push_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

// The text with one space between words, none at the ends, no dash that parts nothing
// (first, last or after another) and no empty brackets.
std::string tidy(std::string_view text) {
  std::string out;
  for (bool again = true; again;) {
    std::vector<std::string_view> kept;
    for (const std::string_view word : wordsOf(text)) {
      if (isDash(word) && (kept.empty() || isDash(kept.back()))) continue;
      kept.push_back(word);
    }
    while (!kept.empty() && isDash(kept.back())) kept.pop_back();
    std::string joined;
    for (const std::string_view word : kept) joined.append(joined.empty() ? "" : " ").append(word);
    again = false;
    for (const std::string_view empty : {"()", "( )", "[]", "[ ]"}) {
      for (std::size_t at; (at = joined.find(empty)) != std::string::npos; again = true)
        joined.erase(at, empty.size());
    }
    out = std::move(joined);
    text = out;
  }
  return out;
}

// Whether a text is the phrase, but for ASCII case; in a built-in phrase '#' is a digit.
bool isPhrase(std::string_view text, std::string_view phrase, bool builtIn) {
  if (text.size() != phrase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = builtIn && phrase[i] == '#';
    if (digit ? (text[i] < '0' || text[i] > '9')
              : platform::asciiLower(text[i]) != platform::asciiLower(phrase[i]))
      return false;
  }
  return true;
}

bool isAnyPhrase(std::string_view text, const CleanRules& rules) {
  const std::string words = tidy(text);
  for (const std::string_view phrase : kPhrases) {
    if (isPhrase(words, phrase, true)) return true;
  }
  for (const CleanPhrase& phrase : rules.phrases) {
    if (isPhrase(words, tidy(phrase.text), false)) return true;
  }
  return false;
}

// Where the phrase at the end of a tidy text begins: its bracket, or the dash before it.
std::optional<std::size_t> phraseAtEnd(const std::string& text, const CleanRules& rules) {
  const char last = text.empty() ? '\0' : text.back();
  if (last == ')' || last == ']') {
    const std::size_t open = text.rfind(last == ')' ? '(' : '[');
    if (open != std::string::npos &&
        isAnyPhrase(std::string_view(text).substr(open + 1, text.size() - open - 2), rules))
      return open;
  }
  for (const std::string_view parting : kPartings) {
    const std::size_t at = text.rfind(parting);
    if (at != std::string::npos && isAnyPhrase(text.substr(at + parting.size()), rules)) return at;
  }
  return std::nullopt;
}

// The text without an audio file's extension, when it looks like a file's name: the
// extension ends it and follows a character other than a space.
bool cutExtension(std::string* text) {
  for (const std::string_view extension : kExtensions) {
    if (text->size() <= extension.size() + 1) continue;
    const std::size_t at = text->size() - extension.size();
    if (isBlank((*text)[at - 1]) || !isPhrase(text->substr(at), extension, false)) continue;
    text->erase(at);
    return true;
  }
  return false;
}

// The text with what each pattern matches taken out. A pattern that std::regex cannot run
// on it (too complex) leaves it as it is.
std::string cutPatterns(const std::string& text, const CleanRules& rules) {
  if (text.size() > kMostPatternBytes) return text;
  std::string out = text;
  for (const CleanPattern& pattern : rules.patterns) {
    try {
      out = std::regex_replace(out, pattern.regex, "");
    } catch (const std::regex_error&) {
      continue;
    }
  }
  return out;
}

}  // namespace

std::string cleanTitle(std::string_view title, const CleanRules& rules) {
  std::string text = tidy(title);
  for (std::size_t before = text.size() + 1; text.size() < before;) {
    before = text.size();
    text = tidy(cutPatterns(text, rules));
    if (cutExtension(&text)) text = tidy(text);
    if (const std::optional<std::size_t> at = phraseAtEnd(text, rules))
      text = tidy(text.substr(0, *at));
  }
  return text.empty() ? std::string(title) : text;
}

bool isHidden(const Track& track, const CleanRules& rules) {
  if (rules.hide.empty()) return false;
  std::string shown = track.artist;
  shown.append(shown.empty() || track.song.empty() ? "" : " - ").append(track.song);
  shown.resize(std::min(shown.size(), kMostPatternBytes));
  for (const CleanPattern& pattern : rules.hide) {
    try {
      if (std::regex_search(shown, pattern.regex)) return true;
    } catch (const std::regex_error&) {
      continue;
    }
  }
  return false;
}

Track cleanTrack(const Track& track, const CleanRules& rules) {
  // Hidden by its texts as they are or as cleaned, and hidden for good.
  const Track hidden{"ID", "ID", ""};
  if (track == hidden || isHidden(track, rules)) return hidden;
  Track shown{track.artist, cleanTitle(track.song, rules), cleanTitle(track.album, rules)};
  return isHidden(shown, rules) ? hidden : shown;
}

TitleCleaning::TitleCleaning(const Arguments& arguments) {
  if (!arguments.given("--clean")) return;
  rules_ = arguments.cleanRules() ? arguments.cleanRules() : std::make_shared<const CleanRules>();
}

Track TitleCleaning::track(const Track& track) const {
  return rules_ ? cleanTrack(track, *rules_) : track;
}

Record TitleCleaning::record(Record record) const {
  record.track = track(record.track);
  return record;
}
