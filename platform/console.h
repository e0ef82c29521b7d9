// Text on the standard streams, one implementation per system (console-posix.cpp,
// console-win32.cpp). A Windows console shows UTF-16 characters, whatever its code page;
// files, pipes and terminals elsewhere take the bytes as they are.
#pragma once

#include <string_view>

#include "platform/error.h"

namespace platform {

enum class TextEncoding { kLatin1, kUtf8 };
enum class StandardStream { kOutput, kError };

// Writes bytes of the given encoding to a standard stream: on a Windows console as the
// characters they encode, anywhere else as they are.
bool WriteStandard(StandardStream stream, std::string_view bytes, TextEncoding encoding,
                   Error* err);

// Makes std::cout and std::cerr write through WriteStandard with the given encoding when
// they are a Windows console. Call before the first output.
void ShowConsoleTextAs(TextEncoding encoding);

}  // namespace platform
