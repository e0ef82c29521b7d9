// Between the UTF-8 that both programs use inside and the UTF-16 of the W calls; Windows
// only (file_system-win32.cpp).
#pragma once

#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

// The UTF-16 form of a UTF-8 path; false, with *err naming it, when it is not UTF-8, so
// that no other file is opened in its place.
bool widenPath(const std::string& path, std::wstring* wide, Error* err);

// The UTF-16 form of UTF-8 text for a person; bytes that are not UTF-8 become U+FFFD.
std::wstring widenText(std::string_view utf8);

// The UTF-8 form of UTF-16 text.
std::string narrow(std::wstring_view text);

}  // namespace platform
