// The view of the DJ application's shared block, and the deck texts read from it.
#pragma once

#include <string>

// Names of the DJ application's shared block, tried in this order.
extern char szName[19];
extern char szNameAlternative[18];

// Start of the mapped view of the block (read-only).
extern const char* pBuf;

// The narrowing buffer: 100 text bytes and a terminating zero that is never overwritten.
extern char* nBuf;

// Offsets of the deck text fields in the block, in bytes.
constexpr int kLeftSong = 0x0CC;
constexpr int kLeftAlbum = 0x19C;
constexpr int kLeftArtist = 0x26C;
constexpr int kRightSong = 0x748;
constexpr int kRightAlbum = 0x818;
constexpr int kRightArtist = 0x8E8;

// Code units read from one text field at most.
constexpr int kFieldUnits = 100;

// The 8-bit text of the UTF-16LE field at offset bytes into the view. Latin-1 characters
// keep their byte, control characters become a blank, anything beyond Latin-1 becomes
// one "?"; the text ends at a zero code unit or after 100 code units.
std::string getSSLText(int offset);

// The same text, put into an existing string: a string that already holds a text of this
// length or longer keeps its storage, so a poll needs no memory of its own.
void getSSLTextInto(int offset, std::string& text);
