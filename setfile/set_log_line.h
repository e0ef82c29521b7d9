// The set log: beside each playlist, one JSON object per line (JSON Lines, UTF-8, LF) for
// each of its records, holding every character of the deck texts and the local UTC offset:
//   {"time":"2026-12-07T23:08:31+01:00","deck":"L","artist":"Beyoncé","song":"Don’t Hurt
//    Yourself – Live","album":"Lemonade","loaded":"2026-12-07T23:05:02+01:00"}
// (one line in the file). The writer and the reader of a line live here together; its name
// beside the playlist is setLogFileName (file_names.h).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "setfile/clock.h"
#include "setfile/track.h"

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
