// Holding a file the way a spreadsheet that shows it does: open for reading, sharing
// reading only, so that no other program can write it meanwhile. Used by the tests'
// locker program.
#pragma once

#include <string>

#include "platform/error.h"
#include "platform/platform.h"

namespace platform {

// Opens an existing file for reading and lets others read it, but not write it.
bool HoldForReading(const std::string& path, File* file, Error* err);

// Closes a held file, so others may write it again.
void Release(File file);

}  // namespace platform
