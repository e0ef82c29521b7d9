// POSIX implementation of reading a secret: echo switched off through termios while a
// terminal is read, byte by byte so that nothing after the line is taken from the input.
// An interrupt at the prompt (Ctrl-C, a termination request, a closed terminal) gives the
// terminal its echo back before it does what it would have done.
#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <iterator>
#include <string>

#include "platform/secret_input.h"

namespace platform {

namespace {

// The signals that end a prompt, and what they did before it.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction formerActions[std::size(kInterrupts)];

// The terminal's mode before the prompt, and the interrupt that ended it (0 for none).
termios savedMode{};
volatile sig_atomic_t interruptedBy = 0;

// Gives the terminal its echo back at once (tcsetattr may be called in a handler) and
// lets the read end with EINTR.
void onInterrupt(int signal) {
  const int saved = errno;
  tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  interruptedBy = signal;
  errno = saved;
}

// Installs onInterrupt, without SA_RESTART so that a blocked read returns.
void catchInterrupts() {
  interruptedBy = 0;
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : kInterrupts) sigaddset(&action.sa_mask, signal);
  for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
    sigaction(kInterrupts[i], nullptr, &formerActions[i]);
    // An ignored signal (nohup) stays ignored.
    if (formerActions[i].sa_handler != SIG_IGN) sigaction(kInterrupts[i], &action, nullptr);
  }
}

void releaseInterrupts() {
  for (std::size_t i = 0; i < std::size(kInterrupts); ++i)
    sigaction(kInterrupts[i], &formerActions[i], nullptr);
}

// Reads up to the line end; false on a read error or an interrupt, with errno set.
bool readLine(std::string* line, bool* ended) {
  char c = 0;
  while (true) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR && interruptedBy == 0) continue;
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
  const bool terminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &savedMode) == 0;
  if (terminal) {
    catchInterrupts();
    termios quiet = savedMode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool ended = false;
  const bool read = readLine(&line, &ended);
  const int error = errno;
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
    (void)!::write(STDERR_FILENO, "\n", 1);
    releaseInterrupts();
    // The interrupt now does what it did before the prompt: end the process, or ask a
    // run to stop.
    if (const int signal = interruptedBy; signal != 0) {
      raise(signal);
      return makeError("stdin", "interrupted before the secret was entered");
    }
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
