#include "tracker/playlist.h"

#include "platform/platform.h"
#include "tracker/conversion.h"

std::time_t rawtime = 0;
std::tm* timeinfo = nullptr;
std::string info;
std::string formattedInfo;

namespace {

// Reads the clock into rawtime and timeinfo.
void readClock() {
  static std::tm fallback{};  // keeps timeinfo valid should localtime ever fail
  rawtime = std::time(nullptr);
  timeinfo = std::localtime(&rawtime);
  if (timeinfo == nullptr) timeinfo = &fallback;
}

}  // namespace

std::string playlistFileName(const std::tm& time) {
  return "Playlist_" + i_to_str(time.tm_year + 1900) + "." + i_to_str(time.tm_mon + 1, 2) + "." +
         i_to_str(time.tm_mday, 2) + "_" + i_to_str(time.tm_hour, 2) + "_" +
         i_to_str(time.tm_min, 2) + "_" + i_to_str(time.tm_sec, 2) + ".txt";
}

void formatInfoAt(const std::tm& time, const std::string& artist, const std::string& song,
                  const std::string& album, const std::string& deck) {
  const std::string second = i_to_str(time.tm_sec, 2);
  const std::string minute = i_to_str(time.tm_min, 2);
  const std::string hour = i_to_str(time.tm_hour, 2);
  const std::string day = i_to_str(time.tm_mday, 2);
  const std::string month = i_to_str(time.tm_mon + 1, 2);
  const std::string year = i_to_str(time.tm_year + 1900, 4);
  info = year + "." + month + "." + day + " " + hour + ":" + minute + ":" + second;
  formattedInfo.clear();
  formattedInfo.reserve(info.size() + artist.size() + song.size() + album.size() + 48);
  formattedInfo += info;
  formattedInfo += ";";
  formattedInfo += deck;
  formattedInfo += ";\"";
  formattedInfo += artist;
  formattedInfo += "\";\"";
  formattedInfo += song;
  formattedInfo += "\";\"";
  formattedInfo += album;
  formattedInfo += "\";";
  for (const std::string* part : {&year, &month, &day, &hour, &minute}) {
    formattedInfo += *part;
    formattedInfo += ";";
  }
  formattedInfo += second;
}

void formatInfo(std::string artist, std::string song, std::string album, std::string deck) {
  readClock();
  formatInfoAt(*timeinfo, artist, song, album, deck);
}

FileResult createPlaylist(std::string* name) {
  // Names change every second, so a minute of taken names means something else is wrong.
  constexpr int kAttempts = 60;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    readClock();
    const std::time_t start = rawtime;
    *name = playlistFileName(*timeinfo);
    platform::File file;
    switch (platform::CreateNewFile(*name, &file)) {
      case platform::CreateResult::kFailed:
        return FileResult::kOpenFailed;
      case platform::CreateResult::kCreated: {
        const bool written = platform::AppendAll(file, kPlaylistHeader);
        const bool closed = platform::SyncAndClose(file);
        return written && closed ? FileResult::kOk : FileResult::kWriteFailed;
      }
      case platform::CreateResult::kExists:
        // Another run owns this name: wait for the next second's name.
        while (std::time(nullptr) == start) platform::SleepMilliseconds(50);
        break;
    }
  }
  return FileResult::kOpenFailed;
}

FileResult appendRecord(const std::string& name, const std::string& artist, const std::string& song,
                        const std::string& album, const std::string& deck) {
  platform::File file;
  if (!platform::OpenForAppend(name, &file)) return FileResult::kOpenFailed;
  formatInfo(artist, song, album, deck);
  formattedInfo += "\r\n";  // one write puts the whole line or nothing
  const bool written = platform::AppendAll(file, formattedInfo);
  formattedInfo.resize(formattedInfo.size() - 2);
  const bool closed = platform::SyncAndClose(file);
  return written && closed ? FileResult::kOk : FileResult::kWriteFailed;
}
