// The playlist file: its name, and how the header and the records reach it.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "tracker/record_format.h"
#include "tracker/track.h"

// The local broken-down form of a clock reading; all zeros should the system not convert it.
std::tm localTime(std::time_t time);

// "Playlist_YYYY.MM.DD_hh_mm_ss.txt" for the given local time.
std::string playlistFileName(const std::tm& time);

// What became of a write to the playlist file. kInUse: another program holds the file
// and a later attempt may succeed. kExists: the name of a file to be created is taken.
enum class FileResult { kOk, kInUse, kExists, kOpenFailed, kWriteFailed };

// Creates a new playlist file named after the current local time and writes its header.
// An existing file is never opened: the name of the next second is taken instead.
FileResult createPlaylist(std::string* name);

// Appends a record and its line end in one write and brings it to stable storage. A
// record that cannot be written whole is removed again.
FileResult appendRecord(const std::string& path, std::string_view record);

// Creates a file of that name holding text, brought to stable storage. An existing file
// is left as it is: kExists.
FileResult createWithText(const std::string& path, std::string_view text);

// The file operations that records reach the disk through: DiskFiles in the program, a
// stand-in that can answer "in use" in the tests.
class PlaylistFiles {
 public:
  virtual ~PlaylistFiles() = default;
  virtual FileResult append(const std::string& path, std::string_view record) = 0;
  virtual FileResult createNew(const std::string& path, std::string_view text) = 0;
};

class DiskFiles : public PlaylistFiles {
 public:
  FileResult append(const std::string& path, std::string_view record) override {
    return appendRecord(path, record);
  }
  FileResult createNew(const std::string& path, std::string_view text) override {
    return createWithText(path, text);
  }
};
