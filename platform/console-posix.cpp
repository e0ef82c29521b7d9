// POSIX implementation of the console's system calls: the standard streams are file
// descriptors 1 and 2, and a terminal takes the bytes as they are.
#include <unistd.h>

#include "platform/system_calls.h"

namespace platform::sys {

Handle::Native standardStream(StandardStream stream) {
  return stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
}

bool isConsole(StandardStream) { return false; }

bool writeConsole(StandardStream stream, std::string_view bytes, TextEncoding, Error* err) {
  return writeAll(standardStream(stream), bytes,
                  stream == StandardStream::kOutput ? "stdout" : "stderr", err);
}

}  // namespace platform::sys
