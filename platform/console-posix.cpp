// POSIX implementation of the console service: terminals take the bytes as they are.
#include <errno.h>
#include <unistd.h>

#include "platform/console.h"

namespace platform {

bool WriteStandard(StandardStream stream, std::string_view bytes, TextEncoding, Error* err) {
  const int fd = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetError(err, n < 0 ? errno : EIO, "write", fd == STDOUT_FILENO ? "stdout" : "stderr");
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ShowConsoleTextAs(TextEncoding) {}

}  // namespace platform
