// The script language of the stand-in DJ application: one command per line, deck texts
// in UTF-8 with backslash escapes, turned into UTF-16 code units for the shared block.
#pragma once

#include <string>
#include <string_view>

#include "setfile/track.h"

namespace standin {

struct Command {
  enum class Kind { kNothing, kLoad, kClear, kWait, kQuit };
  Kind kind = Kind::kNothing;  // kNothing: a blank line or a comment
  Deck deck = Deck::kLeft;     // kLoad, kClear
  // kLoad: the texts as raw code units, which a Track cannot hold (lone surrogates).
  std::u16string artist;
  std::u16string song;
  std::u16string album;
  double seconds = 0;  // kWait
};

// Parses one script line (without its line end; a trailing carriage return is ignored).
// False with a message in *error when the line is not a command.
bool ParseLine(std::string_view line, Command* command, std::string* error);

// Turns a deck text into UTF-16 code units: UTF-8 characters, and the escapes \\ \| \n
// \r \t \xHH (one code unit U+00HH) and \uHHHH (one code unit, lone surrogates
// included). False with a message in *error for bad UTF-8 or a bad escape.
bool DecodeText(std::string_view text, std::u16string* units, std::string* error);

}  // namespace standin
