// Files opened by name: created, appended to, brought to stable storage, looked at and
// removed. Paths are UTF-8 (on POSIX, bytes as they are). The shared logic is in
// file_system.cpp, the system calls in file_system-posix.cpp and file_system-win32.cpp.
// A call that fails says why in the Error it returns (or, for kFailed, in *err when given):
// the file's path as its subject, the system's reason as its text.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/handle.h"

namespace platform {

// A file opened for writing, and the path it was opened by (for error texts).
struct File {
  Handle handle;
  std::string path;
};

enum class CreateResult { kCreated, kExists, kFailed };

// Creates a new file for writing; never opens or empties an existing one.
CreateResult createNewFile(const std::string& path, File* file, Error* err);

enum class OpenResult { kOpened, kInUse, kFailed };

// Opens a file for appending, creating it when missing. kInUse: another program holds the
// file open in a way that forbids writing (on Windows, a sharing or lock violation), so a
// later attempt may succeed; POSIX has no such locks and never answers kInUse.
OpenResult openForAppend(const std::string& path, File* file, Error* err);

// Appends all of data at the end of the file. Should a write fail part way, the file is
// cut back to where this append began, so that no part of data stays behind (unless the
// cut fails as well).
Status appendAll(File& file, std::string_view data);

// Brings the file's contents to stable storage, then closes it. The file is closed in
// every case.
Status syncAndClose(File& file);

// The steps of an append one by one, for callers that decide what a failure of each
// means. seekFileEnd: the file's size, where the next write lands. writeFile: all of data
// there, or a failure (a part may be written). truncateFile: cuts the file off at size,
// and the next write lands there. closeFile: closes the file, if open, in every case.
Expected<std::uint64_t> seekFileEnd(File& file);
Status writeFile(File& file, std::string_view data);
Status truncateFile(File& file, std::uint64_t size);
Status syncFile(File& file);
Status closeFile(File& file);

// The time of the file's last modification.
Expected<std::time_t> fileModificationTime(const std::string& path);

// Creates the folders above the file at path that are missing (on POSIX, with the
// permissions 0700 that settings folders take).
Status createParentFolders(const std::string& path);

// Removes a file, never a folder.
Status removeFile(const std::string& path);

// The UTF-8 form of a name in the system's narrow encoding: on Windows the ANSI code
// page, elsewhere bytes that stay as they are. For callers whose names come in that
// encoding.
std::string utf8FromNarrowName(const std::string& name);

}  // namespace platform
