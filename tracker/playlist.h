// The playlist file: how the header and the records reach it (its name: setfile/file_names.h).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "setfile/clock.h"
#include "setfile/file_names.h"
#include "setfile/playlist_record.h"
#include "setfile/track.h"

// What became of a write to the playlist file. kInUse: another program holds the file
// and a later attempt may succeed. kExists: the name of a file to be created is taken.
enum class FileResult { kOk, kInUse, kExists, kOpenFailed, kWriteFailed };

// Each of these says why it failed in *err, when given.

// Creates a new playlist file named after the current local time and writes its header.
// An existing file is never opened: the name of the next second is taken instead.
FileResult createPlaylist(std::string* name, platform::Error* err = nullptr);

// Appends a record and its line end in one write and brings it to stable storage. A
// record that cannot be written whole is removed again.
FileResult appendRecord(const std::string& path, std::string_view record,
                        std::string_view lineEnd = kRecordLineEnd, platform::Error* err = nullptr);

// Creates a file of that name holding text, brought to stable storage. An existing file
// is left as it is: kExists.
FileResult createWithText(const std::string& path, std::string_view text,
                          platform::Error* err = nullptr);

// "<file>: <reason>", the line that tells a person why a file failed.
std::string failureLine(const std::string& path, const platform::Error& err);

// The file operations that records reach the disk through: DiskFiles in the program, a
// stand-in that can answer "in use" in the tests.
class PlaylistFiles {
 public:
  virtual ~PlaylistFiles() = default;
  virtual FileResult append(const std::string& path, std::string_view record,
                            std::string_view lineEnd) = 0;
  virtual FileResult createNew(const std::string& path, std::string_view text) = 0;
  // "<file>: <reason>" for the last failure, when known.
  virtual std::string failure() const { return {}; }
};

// The files on disk. A failure leaves its failureLine in failure().
class DiskFiles : public PlaylistFiles {
 public:
  FileResult append(const std::string& path, std::string_view record,
                    std::string_view lineEnd) override {
    return noted(path, appendRecord(path, record, lineEnd, &error_));
  }
  FileResult createNew(const std::string& path, std::string_view text) override {
    return noted(path, createWithText(path, text, &error_));
  }
  std::string failure() const override { return failure_; }

 private:
  FileResult noted(const std::string& path, FileResult result) {
    if (result != FileResult::kOk && result != FileResult::kExists) {
      failure_ = failureLine(path, error_);
    }
    return result;
  }

  platform::Error error_;
  std::string failure_;
};
