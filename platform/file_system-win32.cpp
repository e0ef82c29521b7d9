// Win32 implementation of the file-system services of the utility classes.
#include <io.h>
#include <sys/stat.h>

#include "platform/file_system.h"

namespace platform {

bool FileModificationTime(const std::string& path, std::time_t* mtime) {
  struct _stat64 status;
  if (_stat64(path.c_str(), &status) != 0) return false;
  *mtime = static_cast<std::time_t>(status.st_mtime);
  return true;
}

bool RemoveFile(const std::string& path) { return _unlink(path.c_str()) == 0; }

void AdviseLargeBuffer(char*, std::size_t) {}

}  // namespace platform
