// POSIX implementation of the writer side of the shared block: a POSIX shared-memory
// object named "/" followed by the block's name, backslash included.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <string>

#include "tools/block_writer.h"

namespace platform {

namespace {

std::string ObjectPath(const char* name) { return std::string("/") + name; }

// The object path of the block to remove when a signal ends the process. Filled before
// the handlers are installed and only read by them.
char signalPath[256];

void RemoveAndDie(int signal) {
  shm_unlink(signalPath);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

}  // namespace

Status CreateWritableBlock(const char* name, std::size_t size, WritableBlock* block) {
  const std::string path = ObjectPath(name);
  if (size > static_cast<std::size_t>(std::numeric_limits<off_t>::max())) {
    return systemError(EINVAL, "ftruncate", path);
  }
  // A leftover of an earlier writer is replaced, not resized: a reader that still maps
  // the old object keeps its view instead of seeing it shrink under it.
  if (shm_unlink(path.c_str()) != 0 && errno != ENOENT) {
    return systemError(errno, "shm_unlink", path);
  }
  const int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return systemError(errno, "shm_open", path);
  }
  // A new object grows zero-filled.
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    Error err = systemError(errno, "ftruncate", path);
    close(fd);
    shm_unlink(path.c_str());
    return err;
  }
  char* view = nullptr;
  if (size > 0) {  // an empty object exists but has nothing to map
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
      Error err = systemError(errno, "mmap", path);
      close(fd);
      shm_unlink(path.c_str());
      return err;
    }
    view = static_cast<char*>(address);
  }
  block->handle = Handle(fd);
  block->view = view;
  block->size = size;
  block->name = name;
  return {};
}

void RemoveWritableBlock(WritableBlock* block) {
  if (block->view != nullptr) munmap(block->view, block->size);
  if (block->name != nullptr) shm_unlink(ObjectPath(block->name).c_str());
  *block = WritableBlock{};
}

void RemoveBlockOnSignal(const WritableBlock& block) {
  if (block.name == nullptr) return;
  const std::string path = ObjectPath(block.name);
  if (path.size() >= sizeof signalPath) return;
  std::memcpy(signalPath, path.c_str(), path.size() + 1);
  struct sigaction action = {};
  action.sa_handler = RemoveAndDie;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &action, nullptr);
}

}  // namespace platform
