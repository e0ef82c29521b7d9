// Reading the deck texts from a mapped view of the DJ application's shared block.
#pragma once

#include <string>

#include "setfile/track.h"
#include "tracker/block_layout.h"

// A mapped view of the block, at least kBlockSize bytes, read without synchronisation.
struct BlockView {
  const char* data = nullptr;
};

// How a deck's UTF-16 texts are turned into bytes.
enum class Charset {
  // Latin-1 characters keep their byte, anything beyond Latin-1 becomes one "?" (a
  // surrogate pair too): the playlist's form.
  kLatin1,
  // Every character is kept; a lone surrogate becomes U+FFFD.
  kUtf8,
};

// The text of the field at offset bytes into the view. It ends at a zero code unit or
// after kFieldUnitsRead units; control characters become a blank, so a text can neither
// break a line nor drive a terminal.
std::string readField(BlockView view, int offset, Charset charset = Charset::kLatin1);

// The three texts of a deck.
Track readDeck(BlockView view, Deck deck, Charset charset = Charset::kLatin1);
