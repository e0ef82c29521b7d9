// POSIX implementation of reading a secret: echo switched off through termios while a
// terminal is read, byte by byte so that nothing after the line is taken from the input.
#include <errno.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/secret_input.h"

namespace platform {

namespace {

// Reads up to the line end; false on a read error, with errno set.
bool readLine(std::string* line, bool* ended) {
  char c = 0;
  while (true) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0 || c == '\n') {
      *ended = n == 0;
      break;
    }
    *line += c;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

}  // namespace

Expected<std::string> readSecretLine() {
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool ended = false;
  const bool read = readLine(&line, &ended);
  const int error = errno;
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    (void)!::write(STDERR_FILENO, "\n", 1);
  }
  Error err;
  if (!read) {
    setError(&err, error, "read", "stdin");
    return err;
  }
  if (ended && line.empty()) return makeError("stdin", "no line to read");
  return line;
}

}  // namespace platform
