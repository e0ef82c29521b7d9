// File-system services of the utility classes, one implementation per system
// (file_system-posix.cpp, file_system-win32.cpp). Failures are reported as in platform.h.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "platform/error.h"

namespace platform {

// The time of the file's last modification. On failure, err->text is "stat: <reason>".
bool FileModificationTime(const std::string& path, std::time_t* mtime, Error* err);

// Removes a file, never a folder.
bool RemoveFile(const std::string& path, Error* err);

// Tells the system that a large, freshly allocated buffer is about to be filled whole,
// so that it can back all of it at once instead of one page fault at a time.
void AdviseLargeBuffer(char* data, std::size_t size);

}  // namespace platform
