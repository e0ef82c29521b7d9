// File-system services of the utility classes, one implementation per system
// (file_system-posix.cpp, file_system-win32.cpp).
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace platform {

// The time of the file's last modification; false when its status cannot be taken, with
// errno telling why.
bool FileModificationTime(const std::string& path, std::time_t* mtime);

// Removes a file, never a folder; false on failure.
bool RemoveFile(const std::string& path);

// Tells the system that a large, freshly allocated buffer is about to be filled whole,
// so that it can back all of it at once instead of one page fault at a time.
void AdviseLargeBuffer(char* data, std::size_t size);

}  // namespace platform
