// Text on the standard streams: shared logic in console.cpp, the system calls in
// console-posix.cpp and console-win32.cpp. A Windows console shows UTF-16 characters,
// whatever its code page; a terminal elsewhere is taken to show UTF-8. Files and pipes
// take the bytes as they are.
#pragma once

#include <string_view>

#include "platform/error.h"

namespace platform {

enum class TextEncoding { kLatin1, kUtf8 };
enum class StandardStream { kOutput, kError };

// Writes bytes of the given encoding to a standard stream: on a console (a terminal) as
// the characters they encode, to a file or pipe as they are.
Status writeStandard(StandardStream stream, std::string_view bytes, TextEncoding encoding);

// Whether a standard stream is a console (a terminal), not a file or a pipe.
bool isTerminal(StandardStream stream);

// Makes std::cout and std::cerr write through writeStandard with the given encoding when
// they are a console that does not show that encoding's bytes as they are (a Windows
// console; a terminal elsewhere for Latin-1). Call before the first output.
void showConsoleTextAs(TextEncoding encoding);

}  // namespace platform
