// The set log: beside each playlist, one JSON object per line (JSON Lines, UTF-8, LF) for
// each of its records, holding every character of the deck texts and the local UTC offset:
//   {"time":"2026-12-07T23:08:31+01:00","deck":"L","artist":"Beyoncé","song":"Don’t Hurt
//    Yourself – Live","album":"Lemonade","loaded":"2026-12-07T23:05:02+01:00"}
// (one line in the file). The writer and the reader of a line live here together.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "tracker/text.h"
#include "tracker/track.h"

// A clock reading as the local clock showed it, with the local clock's offset from UTC at
// that moment, so that the hour repeated when daylight saving time ends is unambiguous.
struct LocalStamp {
  std::tm local{};    // tm_year, tm_mon, tm_mday, tm_hour, tm_min, tm_sec are used
  int utcOffset = 0;  // seconds east of UTC
};

// The local form of a clock reading and its offset; offset 0 should the system not convert it.
LocalStamp localStamp(std::time_t time);

// Seconds since 1970-01-01 00:00:00 of a clock time, taken as it reads (no time zone, no
// daylight saving), so that differences are what the wall clock shows.
std::int64_t clockSeconds(const std::tm& time);

// Whether year (full, e.g. 2026), month (1 to 12) and day name a day of the calendar.
bool isCalendarDay(int year, int month, int day);

// "2026-12-07" and "2026-12-07T23:08:31" (ISO 8601) of a local clock time.
void appendIsoDate(const std::tm& time, std::string* out);
void appendIsoDateTime(const std::tm& time, std::string* out);

// "2026-12-07T23:08:31+01:00" (ISO 8601); "Z" is read as +00:00 but never written.
void appendIsoStamp(const LocalStamp& stamp, std::string* out);
bool parseIsoStamp(std::string_view text, LocalStamp* stamp);

// One line of the set log.
struct SetLogLine {
  LocalStamp time;  // the clock reading of the playlist record
  Deck deck = Deck::kLeft;
  Track track;                       // UTF-8
  std::optional<LocalStamp> loaded;  // when the deck was first seen holding this track
};

// The line without its LF. Texts are JSON strings: '"' and '\' escaped, control characters
// escaped, every other character as its UTF-8 bytes; a byte that is not part of UTF-8
// becomes U+FFFD, so the line is always valid.
std::string formatSetLogLine(const SetLogLine& line);
std::string formatSetLogLine(std::time_t time, Deck deck, const Track& track, std::time_t loaded);

// Reads one line (without its LF; white space around the object and its parts is allowed).
// It must be one JSON object whose members are strings, with "time", "deck" ("L" or "R"),
// "artist", "song" and "album" once each and "loaded" at most once; other members are
// passed over. Escapes are decoded (a lone surrogate becomes U+FFFD); raw bytes must be
// UTF-8. *line is changed only when true.
bool parseSetLogLine(std::string_view text, SetLogLine* line);
