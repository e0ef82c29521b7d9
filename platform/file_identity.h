// What a path names, after following symbolic links: whether it is a regular file, and an
// identity that is the same for every name of one file (hard links, "./x" and "x"), so that
// a program can tell that an output would land on one of its inputs. The system calls in
// one source per system (file_identity-posix.cpp, file_identity-win32.cpp), the shared
// logic in file_identity.cpp.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/error.h"

namespace platform {

struct FileStatus {
  // A regular file: not a folder, FIFO, device, console or NUL.
  bool regular = false;
  // The file's identity (device and inode; volume serial number and file index), when the
  // system gives one.
  bool identified = false;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // The permission bits (POSIX mode & 07777); 0 on Windows.
  std::uint32_t permissions = 0;
  // Whether the user has marked the file as not to be written: no write permission for
  // its owner (POSIX), the read-only attribute (Windows).
  bool readOnly = false;
  std::time_t modified = 0;
  std::uint64_t size = 0;  // in bytes, of a regular file
};

enum class StatResult { kFound, kMissing, kFailed };

// The status of the file that path names, following symbolic links.
StatResult statPath(const std::string& path, FileStatus* status, Error* err);

// Whether two statuses name one and the same file.
inline bool sameFile(const FileStatus& a, const FileStatus& b) {
  return a.identified && b.identified && a.volume == b.volume && a.index == b.index;
}

// Whether two paths name one file: by identity when both exist (so hard links, symbolic
// links and "./x" count), else by their absolute, normalized text (a file yet to be made).
bool sameFilePath(const std::string& a, const std::string& b);

// The path of the file that path names once symbolic links are followed, so that a new
// version replaces the file a link points to rather than the link; path itself when it
// names nothing yet or is no link.
std::string followLinks(const std::string& path);

// Gives the file at path the permission bits (POSIX; nothing on Windows).
Status setPermissions(const std::string& path, std::uint32_t permissions);

}  // namespace platform
