// POSIX implementation of the files written whole.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "platform/output_file.h"

namespace platform {

namespace {

constexpr int kStandardOutput = 1;

// Brings the folder's entries to stable storage, so that a rename in it survives a crash.
void syncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string& path, Error* err) {
  Discard();
  // A name no other writer uses: the process id and a count, created exclusively.
  static unsigned count = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary =
        path + "." + std::to_string(getpid()) + "." + std::to_string(count++) + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      handle_ = fd;
      path_ = path;
      temporary_ = std::move(temporary);
      return true;
    }
    if (errno != EEXIST) {
      SetError(err, errno, "open", temporary);
      return false;
    }
  }
  SetError(err, EEXIST, "open", path + ".*.tmp");
  return false;
}

void OutputFile::OpenStandardOutput() {
  Discard();
  handle_ = kStandardOutput;
  standardOutput_ = true;
}

bool OutputFile::Write(std::string_view data, Error* err) {
  const int fd = static_cast<int>(handle_);
  while (!data.empty()) {
    const std::size_t chunk = data.size() < SSIZE_MAX ? data.size() : SSIZE_MAX;
    const ssize_t n = write(fd, data.data(), chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetError(err, n < 0 ? errno : ENOSPC, "write",
               standardOutput_ ? std::string("standard output") : temporary_);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool OutputFile::Commit(Error* err) {
  if (standardOutput_) {
    handle_ = -1;
    standardOutput_ = false;
    return true;
  }
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  bool ok = true;
  if (fsync(fd) != 0) {
    SetError(err, errno, "fsync", temporary_);
    ok = false;
  }
  if (close(fd) != 0 && errno != EINTR && ok) {
    SetError(err, errno, "close", temporary_);
    ok = false;
  }
  if (ok && rename(temporary_.c_str(), path_.c_str()) != 0) {
    SetError(err, errno, "rename", temporary_ + " -> " + path_);
    ok = false;
  }
  if (!ok) {
    unlink(temporary_.c_str());
  } else {
    syncFolderOf(path_);
  }
  temporary_.clear();
  return ok;
}

void OutputFile::Discard() {
  if (standardOutput_) {
    standardOutput_ = false;
  } else if (handle_ >= 0) {
    close(static_cast<int>(handle_));
    unlink(temporary_.c_str());
    temporary_.clear();
  }
  handle_ = -1;
}

InputFile::~InputFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool InputFile::Open(const std::string& path, Error* err) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(err, errno, "open", path);
    return false;
  }
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = fd;
  path_ = path;
  return true;
}

std::ptrdiff_t InputFile::Read(char* data, std::size_t size, Error* err) {
  for (;;) {
    const ssize_t n = read(static_cast<int>(handle_), data, size);
    if (n >= 0) return n;
    if (errno != EINTR) {
      SetError(err, errno, "read", path_);
      return -1;
    }
  }
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
