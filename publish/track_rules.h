// The track rules of the streaming licence that mix services enforce: in any three hours,
// at most 4 tracks by one artist (at most 3 of them in a row) and at most 3 tracks from one
// album (at most 2 of them in a row). Checked over a whole set after it was played, and
// while a track is only loaded, before anyone hears it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "setfile/playlist_record.h"
#include "tracker/tracking.h"

// A played track as the rules see it.
struct RuleTrack {
  std::int64_t seconds = 0;  // when it was played (loaded), in seconds on one clock
  std::string artist;
  std::string song;
  std::string album;
};

enum class RuleKind { kArtist, kArtistInARow, kAlbum, kAlbumInARow };

// A rule that a track breaks: it is the count-th track by the artist (from the album)
// within three hours, or in a row, where at most `limit` are allowed.
struct BrokenRule {
  RuleKind kind = RuleKind::kArtist;
  std::string name;  // the artist or album as the track writes it
  std::uint64_t count = 0;
  std::uint64_t limit = 0;
};

constexpr std::int64_t kRuleWindowSeconds = 3 * 3600;

// A name as the rules compare it: without the spaces around it, in lower case (ASCII,
// Latin-1, Greek and Cyrillic letters).
std::string foldName(std::string_view name);

// The artists that an artist field names, as written and trimmed: the main artist and
// each one after "feat.", "ft." or "featuring" (in brackets or not), empty ones left out.
std::vector<std::string> artistsOf(std::string_view artistField);

// "5th track by Moderat within 3 hours (at most 4)", "4th track in a row by Moderat
// (at most 3)", "4th track from Kingdom within 3 hours (at most 3)", "3rd track in a row
// from Kingdom (at most 2)".
std::string describeRule(const BrokenRule& rule);

// The tracks played so far, in order, against which the next one is checked.
class RuleHistory {
 public:
  // The rules that `next`, played after every track added so far, breaks. Tracks count
  // while they lie within three hours of it, going back from the last one.
  std::vector<BrokenRule> check(const RuleTrack& next) const;
  void add(const RuleTrack& track);

 private:
  struct Entry {
    std::int64_t seconds;
    std::vector<std::string> artists;  // folded, each once
    std::string album;                 // folded; empty counts for nothing
  };
  static Entry entryOf(const RuleTrack& track);
  std::vector<Entry> played_;
};

// Warnings while a set is played: a deck loaded with a track that, played next, would
// break a rule, counting the tracks reported so far.
class LoadWarnings {
 public:
  // One poll at `now` (seconds): the tracks it reported join the played ones, at the time
  // their deck was loaded with them; then each deck newly loaded with a track gets a line
  // "R deck: <artist> - <song> would be the 5th track by <artist> within 3 hours (at most
  // 4)" per rule it would break. A deck's load is warned about once.
  std::vector<std::string> poll(const Track& left, const Track& right, const PollReports& reports,
                                std::int64_t now);

 private:
  RuleHistory played_;
  Track seen_[2];
  std::int64_t since_[2] = {0, 0};
};

// One line for each rule a track of the set breaks, tracks numbered from 1 in order:
// "#17 23:41:02 Moderat - Bad Kingdom: 5th track by Moderat within 3 hours (at most 4)",
// with the time the track was logged. The windows go by the time each deck was loaded
// where the set log gives it, else by the logged time.
std::vector<std::string> brokenRuleLines(const std::vector<Record>& tracks);

// Tells as warnings through the reporter, at once, what LoadWarnings::poll finds for this poll (at
// the current time); nothing of it reaches the stream's files, page or chat.
void warnOfLoads(LoadWarnings& warnings, const Track& left, const Track& right,
                 const PollReports& reports);
