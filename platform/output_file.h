// Files that are written whole, and the files and arguments around them. A new version of
// a file is written to a temporary file beside it, brought to stable storage and renamed
// over it, so a reader sees the old contents or the new, never a part, and a failed run
// leaves the old file as it was. Paths are UTF-8. Written once for every system
// (output_file.cpp) over the system calls of file_system-posix.cpp and -win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/file_system.h"

namespace platform {

// Who may read a file written whole: what the old version allowed (everyone, for a new
// file, less the umask), or its owner only (POSIX permissions 0600 from the moment the
// temporary file is created, whatever the old version allowed; Windows leaves access to
// the folder's inherited rights).
enum class FileAccess { kAsBefore, kOwnerOnly };

// A new version of one file, or standard output, written in parts.
class OutputFile {
 public:
  OutputFile() = default;
  // Discards a replacement that was not committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts a new version of the file at path: creates a temporary file in its folder. A
  // path naming something other than a regular file (a FIFO, a device, NUL) is opened and
  // written to instead, never renamed over. A file the user made read-only is refused, as
  // cp refuses it. Errors name path, never the temporary file.
  Status open(const std::string& path, FileAccess access = FileAccess::kAsBefore);
  // Writes to standard output instead: the bytes as they are, but on a Windows console
  // the characters of the UTF-8 text (see writeStandard).
  void openStandardOutput();
  // Writes all of data, or fails.
  Status write(std::string_view data);
  // Brings the new version to stable storage and renames it over the target, with the
  // target's permission bits. On failure the temporary file is removed and the target left
  // as it was.
  Status commit();
  // Removes the temporary file; the target stays as it was.
  void discard();

 private:
  File file_;  // the temporary file and its path, or the target itself when direct_
  bool standardOutput_ = false;
  bool direct_ = false;  // the target is not a regular file: it is written to, not replaced
  std::uint32_t permissions_ = 0;  // the replaced file's permission bits, when it exists
  std::string path_;
};

// Replaces the file at path with data, whole (see OutputFile).
inline Status replaceFileContents(const std::string& path, std::string_view data) {
  OutputFile file;
  Status done = file.open(path);
  if (done) done = file.write(data);
  if (done) done = file.commit();
  return done;
}

// Removes the temporary files that a write of the file at path left beside it when its
// process was killed before the rename (they may hold what the file holds). A temporary
// file of a process that still runs is its write in progress, and is kept.
void removeLeftoverTemporaries(const std::string& path);

// A file opened for reading.
class InputFile {
 public:
  InputFile() = default;

  Status open(const std::string& path);
  // Reads up to size bytes into data: the count read, 0 at the end.
  Expected<std::size_t> read(char* data, std::size_t size);

 private:
  File file_;
};

// The whole contents of a file; the error names the file.
Expected<std::string> readWholeFile(const std::string& path);

}  // namespace platform
