// POSIX implementation of the console's system calls: the standard streams are file
// descriptors 1 and 2. A terminal is taken to show UTF-8, so Latin-1 text goes to it as
// UTF-8; files and pipes take the bytes as they are.
#include <unistd.h>

#include <string>

#include "platform/system_calls.h"

namespace platform::sys {

namespace {

const char* nameOf(StandardStream stream) {
  return stream == StandardStream::kOutput ? "stdout" : "stderr";
}

}  // namespace

Handle::Native standardStream(StandardStream stream) {
  return stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
}

bool isConsole(StandardStream stream) {
  static const bool terminals[2] = {isatty(STDOUT_FILENO) == 1, isatty(STDERR_FILENO) == 1};
  return terminals[stream == StandardStream::kOutput ? 0 : 1];
}

bool consoleShowsAsIs(TextEncoding encoding) { return encoding == TextEncoding::kUtf8; }

Status writeConsole(StandardStream stream, std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8)
    return writeAll(standardStream(stream), bytes, nameOf(stream));
  std::string utf8;
  utf8.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | byte >> 6);
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return writeAll(standardStream(stream), utf8, nameOf(stream));
}

}  // namespace platform::sys
