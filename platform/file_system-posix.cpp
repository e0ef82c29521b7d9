// POSIX implementation of the file system calls.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/file_system.h"
#include "platform/system_calls.h"

namespace platform {

namespace {

// Creates a new file with the given permissions (less the umask).
CreateResult createNew(const std::string& path, mode_t mode, Handle* file, Error* err) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd >= 0) {
    *file = Handle(fd);
    return CreateResult::kCreated;
  }
  setError(err, errno, "open", path);
  return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
}

// Brings the folder's entries to stable storage, so that a rename in it survives a crash.
void syncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  Handle handle(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle) fsync(handle.get());
}

}  // namespace

void Handle::closeNative(Native native) { ::close(native); }

CreateResult createNewFile(const std::string& path, File* file, Error* err) {
  file->path = path;
  return createNew(path, 0644, &file->handle, err);
}

OpenResult openForAppend(const std::string& path, File* file, Error* err) {
  file->path = path;
  file->handle = Handle(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (file->handle) return OpenResult::kOpened;
  setError(err, errno, "open", path);
  return OpenResult::kFailed;
}

Expected<std::time_t> fileModificationTime(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return systemError(errno, "stat", path);
  return status.st_mtime;
}

Status createParentFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) {
      return systemError(errno, "mkdir", path.substr(0, slash));
    }
  }
  return {};
}

Status removeFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return {};
  return systemError(errno, "unlink", path);
}

std::string utf8FromNarrowName(const std::string& name) { return name; }

namespace sys {

CreateResult createTemporary(const std::string& path, bool ownerOnly, Handle* file, Error* err) {
  return createNew(path, ownerOnly ? 0600 : 0666, file, err);
}

Expected<Handle> openForWriting(const std::string& path) {
  Handle file(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!file) return systemError(errno, "open", path);
  return file;
}

Expected<Handle> openForReading(const std::string& path) {
  Handle file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return systemError(errno, "open", path);
  return file;
}

Expected<std::size_t> writeSome(Handle::Native file, std::string_view data,
                                std::string_view subject) {
  const std::size_t chunk = data.size() < SSIZE_MAX ? data.size() : SSIZE_MAX;
  for (;;) {
    const ssize_t n = write(file, data.data(), chunk);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    return systemError(n < 0 ? errno : ENOSPC, "write", subject);
  }
}

Expected<std::size_t> readSome(Handle::Native file, char* data, std::size_t size,
                               std::string_view subject) {
  for (;;) {
    const ssize_t n = read(file, data, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return systemError(errno, "read", subject);
  }
}

Expected<std::uint64_t> seekEnd(Handle::Native file, std::string_view subject) {
  const off_t position = lseek(file, 0, SEEK_END);
  if (position < 0) {
    return systemError(errno, "lseek", subject);
  }
  return static_cast<std::uint64_t>(position);
}

Status truncate(Handle::Native file, std::uint64_t size, std::string_view subject) {
  int result;
  while ((result = ftruncate(file, static_cast<off_t>(size))) != 0 && errno == EINTR) {
  }
  if (result == 0) return {};
  return systemError(errno, "ftruncate", subject);
}

Status sync(Handle::Native file, std::string_view subject) {
  if (fsync(file) == 0) return {};
  return systemError(errno, "fsync", subject);
}

Status close(Handle& file, std::string_view subject) {
  // After EINTR the descriptor is closed all the same (Linux); trying again could close
  // one that another thread has opened meanwhile.
  if (::close(file.release()) == 0 || errno == EINTR) return {};
  return systemError(errno, "close", subject);
}

Status replace(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    return systemError(errno, "rename", from + " -> " + to);
  }
  syncFolderOf(to);
  return {};
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

bool processRunning(unsigned long id) {
  const auto pid = static_cast<pid_t>(id);
  if (pid <= 0 || static_cast<unsigned long>(pid) != id) return false;
  return kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace sys

}  // namespace platform
