// The playlist file: its name, its header and one record per played track.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

// The last clock reading and its local broken-down form.
extern std::time_t rawtime;
extern std::tm* timeinfo;

// The date-time text and the whole record (without line end) built last.
extern std::string info;
extern std::string formattedInfo;

// The header line with its line end.
constexpr std::string_view kPlaylistHeader =
    "Date Time;Deck;\"Artist\";\"Song\";\"Album\";Year;Month;Day;Hour;Minute;Second\r\n";

// "Playlist_YYYY.MM.DD_hh_mm_ss.txt" for the given local time.
std::string playlistFileName(const std::tm& time);

// Builds info and formattedInfo for a record written at the given local time.
void formatInfoAt(const std::tm& time, const std::string& artist, const std::string& song,
                  const std::string& album, const std::string& deck);

// Reads the clock into rawtime and timeinfo, then builds info and formattedInfo.
void formatInfo(std::string artist, std::string song, std::string album, std::string deck);

enum class FileResult { kOk, kOpenFailed, kWriteFailed };

// Creates a new playlist file named after the current local time and writes its header.
// An existing file is never opened: the name of the next second is taken instead.
FileResult createPlaylist(std::string* name);

// Appends one record, written at the current time, and brings it to stable storage.
// A record that cannot be written completely is removed again.
FileResult appendRecord(const std::string& name, const std::string& artist, const std::string& song,
                        const std::string& album, const std::string& deck);
