// POSIX implementation of file identities.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_identity.h"

namespace platform {

StatResult statPath(const std::string& path, FileStatus* status, Error* err) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    setError(err, errno, "stat", path);
    return errno == ENOENT ? StatResult::kMissing : StatResult::kFailed;
  }
  *status = FileStatus{};
  status->regular = S_ISREG(info.st_mode);
  status->identified = true;
  status->volume = static_cast<std::uint64_t>(info.st_dev);
  status->index = static_cast<std::uint64_t>(info.st_ino);
  status->permissions = static_cast<std::uint32_t>(info.st_mode & 07777);
  status->readOnly = (info.st_mode & S_IWUSR) == 0;
  status->modified = info.st_mtime;
  status->size = static_cast<std::uint64_t>(info.st_size);
  return StatResult::kFound;
}

std::string followLinks(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    // A dangling link: the new file goes where the link points.
    std::string target(PATH_MAX, '\0');
    const ssize_t size = readlink(path.c_str(), target.data(), target.size());
    if (size <= 0 || static_cast<std::size_t>(size) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(size));
    if (target[0] == '/') return target;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
  }
  std::string target = resolved;
  free(resolved);
  return target;
}

Status setPermissions(const std::string& path, std::uint32_t permissions) {
  if (chmod(path.c_str(), static_cast<mode_t>(permissions)) == 0) return {};
  return systemError(errno, "chmod", path);
}

}  // namespace platform
