// POSIX implementation of the tracker's platform services.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace platform {

namespace {

int lastError = 0;
volatile sig_atomic_t stopRequested = 0;
// The mapped view, for the bus-error handler.
char* volatile mappedView = nullptr;

void onStop(int) { stopRequested = 1; }

// A block that shrinks under its mapping raises SIGBUS on the next read. Put a page of
// zeros in place of the view, so the read is repeated and the decks just look empty.
void onBusError(int signal, siginfo_t* info, void*) {
  char* view = mappedView;
  auto* address = static_cast<char*>(info->si_addr);
  if (view != nullptr && address >= view && address < view + kBlockSize &&
      mmap(view, kBlockSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
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
  sigaction(signal, &action, nullptr);  // no SA_RESTART: a stop cuts the sleep short
}

}  // namespace

BlockHandle OpenBlock(const char* name) {
  // POSIX shared-memory names are one path component after a leading slash.
  std::string path = "/";
  path += name;
  const int fd = shm_open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) lastError = errno;
  return fd;
}

const char* MapBlock(BlockHandle block) {
  const int fd = static_cast<int>(block);
  struct stat status;
  if (fstat(fd, &status) != 0) {
    lastError = errno;
    return nullptr;
  }
  if (status.st_size < static_cast<off_t>(kBlockSize)) {
    lastError = EINVAL;  // reading past the end of a short block would raise SIGBUS
    return nullptr;
  }
  void* view = mmap(nullptr, kBlockSize, PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    lastError = errno;
    return nullptr;
  }
  mappedView = static_cast<char*>(view);
  struct sigaction action = {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
  return static_cast<const char*>(view);
}

void CloseBlock(BlockHandle block) { close(static_cast<int>(block)); }

int LastError() { return lastError; }

void ShowMessage(const char* text, const char* caption) {
  std::printf("%s\n%s\n", caption, text);
  std::fflush(stdout);
}

void InstallStopHandler() {
  handle(SIGINT, onStop);
  handle(SIGTERM, onStop);
  handle(SIGHUP, onStop);
  // A closed console pipe must not end the run before the record is written, and a file
  // size limit must show as a failed write rather than kill the process.
  handle(SIGPIPE, SIG_IGN);
  handle(SIGXFSZ, SIG_IGN);
}

bool StopRequested() { return stopRequested != 0; }

void SleepMilliseconds(int ms) {
  timespec remaining = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR && !stopRequested) {
  }
}

CreateResult CreateNewFile(const std::string& path, File* file) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    *file = fd;
    return CreateResult::kCreated;
  }
  return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
}

bool OpenForAppend(const std::string& path, File* file) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  *file = fd;
  return fd >= 0;
}

bool AppendAll(File handle, std::string_view data) {
  const int file = static_cast<int>(handle);
  const off_t start = lseek(file, 0, SEEK_END);
  if (start < 0) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(file, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Leave no partial line behind: cut the file back to where this write began.
      while (ftruncate(file, start) != 0 && errno == EINTR) {
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SyncAndClose(File handle) {
  const int file = static_cast<int>(handle);
  bool ok = fsync(file) == 0;
  if (close(file) != 0 && errno != EINTR) ok = false;
  return ok;
}

}  // namespace platform
