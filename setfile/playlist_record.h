// The playlist record: one line per played track, written by the tracker and read back by
// setlist. The writer and the reader live here together, so the layout is defined once:
//   2026.12.07 23:08:31;L;"Marlow Tide";"Paper Harbour";"Night Ferries";2026;12;07;23;08;31
// The texts are Latin-1 and neither quoted nor escaped inside: a text may hold quotes and
// semicolons of its own.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "setfile/clock.h"
#include "setfile/track.h"

// The header line with its line end.
constexpr std::string_view kPlaylistHeader =
    "Date Time;Deck;\"Artist\";\"Song\";\"Album\";Year;Month;Day;Hour;Minute;Second\r\n";

// What ends every line of a playlist.
constexpr std::string_view kRecordLineEnd = "\r\n";

// Between the artist and the song, and between the song and the album.
constexpr std::string_view kTextSeparator = "\";\"";

// What stands before the texts, "2026.12.07 23:08:31;L;\"", and after them,
// "\";2026;12;07;23;08;31".
constexpr std::size_t kRecordPrefixSize = kClockSize + 4;
constexpr std::size_t kRecordSuffixSize = 2 + kClockSize;

// "YYYY.MM.DD hh:mm:ss", a record's first column.
std::string formatDateTime(const std::tm& time);

// One record without its line end: date-time, deck letter, the quoted texts, then the six
// parts of the date-time in columns of their own.
std::string formatRecord(const std::tm& time, Deck deck, const Track& track);

// One played track as the playlist or its set log holds it.
struct Record {
  std::tm time{};  // the local clock time it was logged at (tm_year, tm_mon, ... tm_sec)
  Deck deck = Deck::kLeft;
  Track track;             // UTF-8
  bool ambiguous = false;  // its texts held more "\";\"" separators than the three need
  // From the set log only: the local clock's offset from UTC at `time`, and when the deck
  // was first seen holding the track.
  std::optional<int> utcOffset;
  std::optional<LocalStamp> loaded;
};

// How the bytes of a playlist's texts are read: Latin-1 as the tracker writes them, or
// UTF-8 for a playlist saved so by an editor.
enum class TextBytes { kLatin1, kUtf8 };

enum class LineKind { kRecord, kHeader, kOther };

// Reads one line (without its LF; a CR at its end is dropped) into *record. Quotes and
// semicolons inside texts are not escaped in playlists, so the texts are taken this way:
// the first two fields and the last six are fixed, the artist ends at the first "\";\""
// and the album begins after the last one. The date and time must be a valid clock time
// and match the six trailing fields; its date must exist. *record is changed only for
// kRecord.
LineKind parseLine(std::string_view line, Record* record, TextBytes bytes = TextBytes::kLatin1);
