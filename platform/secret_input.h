// A secret (a token, a key) typed or piped in on standard input, never from the command
// line. One implementation per system (secret_input-posix.cpp, secret_input-win32.cpp).
#pragma once

#include <string>

#include "platform/error.h"

namespace platform {

// Reads one line from standard input, UTF-8, without its line end. On a terminal the
// characters are not echoed, and the line end the user types is shown on stderr. An
// error when the input ends before any character or cannot be read.
Expected<std::string> readSecretLine();

}  // namespace platform
