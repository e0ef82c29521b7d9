#include "tracker/globals.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "tracker/console.h"
#include "tracker/deck_view.h"
#include "tracker/playlist.h"

char szName[19] = "Global\\ssl_sharing";
char szNameAlternative[18] = "Local\\ssl_sharing";
const char* pBuf = nullptr;

namespace {
char narrowBuffer[kFieldUnitsRead + 1];
std::tm lastTime{};
}  // namespace

char* nBuf = narrowBuffer;
std::time_t rawtime = 0;
std::tm* timeinfo = nullptr;
std::string info;
std::string formattedInfo;

std::string getSSLText(int offset) {
  std::string text = readField(BlockView{pBuf}, offset);
  std::memcpy(nBuf, text.c_str(), text.size() + 1);  // a Latin-1 text has one byte a unit
  return text;
}

void formatInfo(std::string artist, std::string song, std::string album, std::string deck) {
  rawtime = std::time(nullptr);
  lastTime = localTime(rawtime);
  timeinfo = &lastTime;
  info = formatDateTime(lastTime);
  formattedInfo = formatRecord(lastTime, deck == "R" ? Deck::kRight : Deck::kLeft,
                               {std::move(artist), std::move(song), std::move(album)});
}

void wrongParameters() {
  std::cout << kUsage << std::flush;
  std::exit(-1);
}
