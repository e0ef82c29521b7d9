// Scrobbling: the listens of a set, the record of which listens each account accepted,
// the requests of ListenBrainz and Last.fm, and what an answer means for the next step.
// All of it plain functions on values, so that tests drive it without a network or a
// clock; the sending itself is in scrobble_sender.cpp, the command in scrobble_command.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "online/request.h"
#include "platform/error.h"
#include "platform/web_client.h"
#include "setfile/playlist_record.h"

// One played track to scrobble: when its deck was loaded (whole seconds since 1970 UTC),
// its deck and its texts (UTF-8).
struct Listen {
  std::int64_t at = 0;
  Deck deck = Deck::kLeft;
  Track track;

  bool operator<(const Listen& other) const {
    return std::tie(at, deck, track.artist, track.song, track.album) <
           std::tie(other.at, other.deck, other.track.artist, other.track.song, other.track.album);
  }
  bool operator==(const Listen&) const = default;
};

// The listen of a record: the time its deck was loaded when the set log holds it, else
// the time it was logged (the local clock of this computer when no offset is known).
// Empty when the track has no artist or no song: a service takes no listen without both.
std::optional<Listen> listenOf(const Record& record);

// Seconds since 1970 UTC of a local clock reading and its offset.
std::int64_t utcSeconds(const std::tm& local, int utcOffset);

// ---- The sent file ---------------------------------------------------------------------
// Beside the set, X.scrobbled for X.txt or X.jsonl: one line for each listen an account
// accepted, appended and synced after each accepted request:
//   ACCOUNT <tab> AT <tab> DECK <tab> ARTIST <tab> SONG <tab> ALBUM <LF>
// AT in seconds since 1970 UTC, DECK L or R; in the texts '\' '\t' '\n' '\r' are written
// \\ \t \n \r. A listen is matched by all of it, never by its place in the set, so an
// edited set sends only the tracks that are new or changed. Lines starting with '#' are
// comments; a last line without its LF (a run killed while writing) is not taken.

std::string sentFileBeside(const std::string& setPath);
// Whether a name can name an account: 1 to 64 letters, digits, '-', '_' and '.', so that it
// stands in the sent file as it is.
bool isAccountName(std::string_view name);
std::string formatSentLine(std::string_view account, const Listen& listen);
// One line without its LF; false (and nothing changed) when it is not a sent line.
bool parseSentLine(std::string_view line, std::string* account, Listen* listen);

struct SentListens {
  std::set<std::pair<std::string, Listen>> accepted;  // (account, listen)
  std::size_t badLines = 0;                           // lines that are not sent lines
  bool endsInLineEnd = true;  // false when the last line is incomplete: the next append
                              // starts on a new line
  bool has(const std::string& account, const Listen& listen) const {
    return accepted.count({account, listen}) != 0;
  }
};
SentListens parseSentFile(std::string_view contents);

// ---- Requests ---------------------------------------------------------------------------

constexpr std::size_t kListenBrainzMostListens = 1000;
constexpr std::size_t kListenBrainzMostBytes = 10'240'000;
constexpr std::size_t kLastfmMostScrobbles = 50;
// Last.fm drops scrobbles older than this.
constexpr std::int64_t kLastfmOldestSeconds = 14 * 24 * 3600;

// The submit-listens body for as many of the listens from `first` on as one request
// takes (at most 1000 listens and 10,240,000 bytes, at least one); returns how many.
std::size_t listenBrainzBody(std::span<const Listen> listens, std::size_t first,
                             std::string_view version, std::string* body);

// The fields of track.scrobble for as many of the listens from `first` on as one request
// takes (at most 50), without api_sig; returns how many.
std::size_t lastfmScrobbleFields(std::span<const Listen> listens, std::size_t first,
                                 const std::string& apiKey, const std::string& sessionKey,
                                 std::vector<platform::Header>* fields);

// What Last.fm's signature hashes: every field's name and value, sorted by name, then the
// shared secret. (format and callback are not signed.)
std::string lastfmSignatureBase(std::vector<platform::Header> fields, std::string_view secret);
