// What the -win32.cpp sources share (defined in file_system-win32.cpp): between the UTF-8
// that both programs use inside and the UTF-16 of the W calls, and file times.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/handle.h"

namespace platform {

// The UTF-16 form of a UTF-8 path; an error naming it when it is not UTF-8, so that no
// other file is opened in its place.
Expected<std::wstring> widenPath(const std::string& path);

// The UTF-16 form of UTF-8 text for a person; bytes that are not UTF-8 become U+FFFD.
std::wstring widenText(std::string_view utf8);

// The UTF-8 form of UTF-16 text.
std::string narrow(std::wstring_view text);

// Opens a file by its UTF-8 path with CreateFileW; on failure an empty handle, with the
// system's error code in *error and *err.
Handle openPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                DWORD* error, Error* err);

// A file time as a calendar time.
std::time_t toTime(const FILETIME& time);

}  // namespace platform
