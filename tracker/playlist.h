// The playlist file: its creation at the start, and the file calls that records and set
// log lines reach the disk through (its name: setfile/file_names.h).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/file_system.h"
#include "setfile/clock.h"
#include "setfile/file_names.h"
#include "setfile/playlist_record.h"
#include "setfile/track.h"

// The calls a write to a log file is made of, each on the file opened last: DiskCalls in
// the program, a file system in memory in the tests. A failure says why.
class FileCalls {
 public:
  // kInUse: another program holds the file (Windows only), so a later attempt may
  // succeed. kExists: the name of a file to be created is taken; nothing was opened.
  enum class Opened { kOpened, kInUse, kExists };

  virtual ~FileCalls() = default;
  // Opens the file for appending, creating it when missing.
  virtual platform::Expected<Opened> openForAppend(const std::string& path) = 0;
  // Creates a new file; never opens an existing one.
  virtual platform::Expected<Opened> createNew(const std::string& path) = 0;
  // The file's size; the next write lands there.
  virtual platform::Expected<std::uint64_t> seekEnd() = 0;
  // All of data, or a failure after which a part of it may stand in the file.
  virtual platform::Status write(std::string_view data) = 0;
  // Cuts the file off at size bytes; the next write lands there.
  virtual platform::Status truncate(std::uint64_t size) = 0;
  // Brings the file's contents to stable storage.
  virtual platform::Status sync() = 0;
  // Closes the file, in every case.
  virtual platform::Status close() = 0;
  virtual void remove(const std::string& path) = 0;
};

// The files on disk, through platform/.
class DiskCalls : public FileCalls {
 public:
  platform::Expected<Opened> openForAppend(const std::string& path) override;
  platform::Expected<Opened> createNew(const std::string& path) override;
  platform::Expected<std::uint64_t> seekEnd() override;
  platform::Status write(std::string_view data) override;
  platform::Status truncate(std::uint64_t size) override;
  platform::Status sync() override;
  platform::Status close() override;
  void remove(const std::string& path) override;

 private:
  platform::File file_;
};

// What became of an append that did not fail.
enum class Appended { kWritten, kInUse };

// Appends text at the end of the file in one write and brings it to stable storage. Should
// the write or the sync fail, the file is cut back to where the write began, so that
// neither a part of the text nor a copy that may not be on disk stays behind to be written
// again; should the cut fail as well, *unfinished keeps where the write began, and the
// next append to that file cuts back to it first (when the file reaches past it). Text
// that stands whole in the file, synced, counts as written although the close may fail.
platform::Expected<Appended> appendText(FileCalls& calls, const std::string& path,
                                        std::string_view text,
                                        std::optional<std::uint64_t>* unfinished);

// Creates a file of that name holding text, brought to stable storage. false: the name is
// taken, and that file is left as it was. A new file that does not take the text whole is
// removed again.
platform::Expected<bool> createWithText(FileCalls& calls, const std::string& path,
                                        std::string_view text);

// Creates a new playlist file named after the current local time and writes its header.
// An existing file is never opened: the name of the next second is taken instead. Returns
// the name; a failure names the file.
platform::Expected<std::string> createPlaylist(FileCalls& calls);

// "<file>: <reason>", the line that tells a person why a file failed.
std::string failureLine(const std::string& path, const platform::Error& err);
