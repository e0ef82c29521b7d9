// The DJ application's shared block: its names, and where each deck's texts lie in it.
#pragma once

#include <cstddef>

#include "setfile/track.h"

// Tried in this order.
constexpr const char* kBlockName = "Global\\ssl_sharing";
constexpr const char* kBlockNameAlternative = "Local\\ssl_sharing";

// Bytes of the block that readers map; a shorter block is not read.
constexpr std::size_t kBlockSize = 4096;

// Byte offsets of one deck's UTF-16LE text fields.
struct DeckFields {
  int artist;
  int song;
  int album;
};

constexpr DeckFields kLeftFields = {0x26C, 0x0CC, 0x19C};
constexpr DeckFields kRightFields = {0x8E8, 0x748, 0x818};

constexpr const DeckFields& fieldsOf(Deck deck) {
  return deck == Deck::kLeft ? kLeftFields : kRightFields;
}

// Code units between one field and the next.
constexpr int kFieldCapacity = 104;
// Code units a reader takes from a field at most; the stand-in fills the whole capacity,
// so tests can show texts longer than what is read.
constexpr int kFieldUnitsRead = 100;
