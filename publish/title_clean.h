// Titles cleaned for show: the clutter of DJ files ("(Original Mix)", "(Clean)",
// "- Remastered 2011", ".mp3") taken off what the audience sees, by built-in phrases and
// the user's rules of the settings file's [clean] table (cli/clean_rules.h). Plain
// functions on texts, so that every output that shows a track cleans it the same way.
//
// A phrase matches as "- phrase", "(phrase)" or "[phrase]" at the end of a title, without
// regard to ASCII case, and is taken off again and again until none is left. Patterns cut
// what they match anywhere in the title. Cleaning is idempotent; it leaves no empty
// brackets, stray dashes or double spaces; a title it would empty stays as it was.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "cli/clean_rules.h"
#include "cli/options.h"
#include "setfile/playlist_record.h"
#include "setfile/track.h"

// The longest text, in bytes, that a pattern sees: std::regex recurses on each character,
// and titles are short. A longer title is cleaned by the phrases alone, and a hide
// pattern sees its first part.
constexpr std::size_t kMostPatternBytes = 256;

// The title (or album) without the phrases and patterns of the rules and the built-in
// phrases.
std::string cleanTitle(std::string_view title, const CleanRules& rules);

// Whether a hide pattern matches the track's "Artist - Song".
bool isHidden(const Track& track, const CleanRules& rules);

// The track as it is shown: "ID - ID" when hidden (as it is or once cleaned), else its
// song and album cleaned.
Track cleanTrack(const Track& track, const CleanRules& rules);

// The cleaning a command does: none, or the built-in and the settings file's rules when
// it is given --clean. A value, so that each output of a command holds the same.
class TitleCleaning {
 public:
  TitleCleaning() = default;  // none
  explicit TitleCleaning(const Arguments& arguments);

  bool on() const { return rules_ != nullptr; }
  // The track as shown; as it is when cleaning is off.
  Track track(const Track& track) const;
  Record record(Record record) const;

 private:
  std::shared_ptr<const CleanRules> rules_;  // null: off
};
