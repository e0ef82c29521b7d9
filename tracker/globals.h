// The names the program has always exposed: process-wide globals, filled by thin wrappers
// over the library's value functions. The library never reads them: main calls
// wrongParameters, and the others are kept for what has always used them by these names
// (the unit tests hold them to their forms).
#pragma once

#include <ctime>
#include <string>

// Names of the DJ application's shared block, tried in this order.
extern char szName[19];
extern char szNameAlternative[18];

// Start of the mapped view of the block.
extern const char* pBuf;

// The last text getSSLText read, as a C string: up to 100 bytes and a zero.
extern char* nBuf;

// The last clock reading formatInfo took, and its local broken-down form.
extern std::time_t rawtime;
extern std::tm* timeinfo;

// The date-time text and the whole record (without line end) formatInfo built last.
extern std::string info;
extern std::string formattedInfo;

// The Latin-1 text of the field at offset bytes into pBuf, also left in nBuf.
std::string getSSLText(int offset);

// Reads the clock into rawtime and timeinfo, then builds info and formattedInfo for a
// record of the deck "L" or "R".
void formatInfo(std::string artist, std::string song, std::string album, std::string deck);

// Prints the usage text and ends the process with status -1.
[[noreturn]] void wrongParameters();
