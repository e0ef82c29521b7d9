// POSIX implementation of the process's platform services.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

volatile sig_atomic_t stopFlag = 0;
// A stop writes a byte here, waking a sleep that waits on the other end.
int stopPipe[2] = {-1, -1};
// The mapped view and its size, for the bus-error handler.
char* volatile mappedView = nullptr;
volatile std::size_t mappedSize = 0;

void onStop(int) { requestStop(); }

// A block that shrinks under its mapping raises SIGBUS on the next read. Put zero pages
// in place of the view, so the read is repeated and the decks just look empty.
void onBusError(int signal, siginfo_t* info, void*) {
  char* view = mappedView;
  auto* address = static_cast<char*>(info->si_addr);
  if (view != nullptr && address >= view && address < view + mappedSize &&
      mmap(view, mappedSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
          MAP_FAILED) {
    return;
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void handle(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

long long nowMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

std::string systemMessage(int code) { return std::strerror(code); }

Expected<Handle> openBlock(const char* name) {
  // POSIX shared-memory names are one path component after a leading slash.
  const std::string path = std::string("/") + name;
  Handle block(shm_open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!block) return systemError(errno, "shm_open", path);
  return block;
}

Expected<const char*> mapBlock(const Handle& block, std::size_t size) {
  const int fd = block.get();
  struct stat status;
  if (fstat(fd, &status) != 0) {
    return systemError(errno, "fstat", "");
  }
  if (status.st_size < static_cast<off_t>(size)) {
    // Reading past the end of a short block would raise SIGBUS; there is no system error
    // for it.
    return systemError(EINVAL, "mmap", "block of " + std::to_string(status.st_size) + " bytes");
  }
  void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    return systemError(errno, "mmap", "");
  }
  mappedView = static_cast<char*>(view);
  mappedSize = size;
  struct sigaction action = {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
  return static_cast<const char*>(view);
}

bool blockRemoved(const Handle& block) {
  struct stat status;
  return fstat(block.get(), &status) == 0 && status.st_nlink == 0;
}

void unmapBlock(const char* view, std::size_t size) {
  if (view == mappedView) mappedView = nullptr;
  munmap(const_cast<char*>(view), size);
}

void showMessage(const char* text, const char* caption) {
  std::printf("%s\n%s\n", caption, text);
  std::fflush(stdout);
}

void installStopHandler() {
  if (stopPipe[0] < 0 && pipe(stopPipe) == 0) {
    for (int fd : stopPipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, O_NONBLOCK);
    }
  }
  handle(SIGINT, onStop);
  handle(SIGTERM, onStop);
  handle(SIGHUP, onStop);
  // A closed console pipe must not end the run before the record is written, and a file
  // size limit must show as a failed write rather than kill the process.
  handle(SIGPIPE, SIG_IGN);
  handle(SIGXFSZ, SIG_IGN);
}

bool stopRequested() { return stopFlag != 0; }

void requestStop() {
  const int saved = errno;  // also runs in a signal handler
  stopFlag = 1;
  if (stopPipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(stopPipe[1], &byte, 1);
  }
  errno = saved;
}

void sleepMilliseconds(int ms) {
  const long long end = nowMilliseconds() + ms;
  pollfd wake = {stopPipe[0], POLLIN, 0};  // a negative descriptor is ignored by poll
  for (long long left = ms; left > 0 && !stopFlag; left = end - nowMilliseconds()) {
    poll(&wake, 1, static_cast<int>(left));
  }
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
