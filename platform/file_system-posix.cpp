// POSIX implementation of the file-system services of the utility classes.
#include <errno.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/file_system.h"

namespace platform {

bool FileModificationTime(const std::string& path, std::time_t* mtime, Error* err) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    SetError(err, errno, "stat", "");
    return false;
  }
  *mtime = status.st_mtime;
  return true;
}

bool RemoveFile(const std::string& path, Error* err) {
  if (::unlink(path.c_str()) == 0) return true;
  SetError(err, errno, "unlink", path);
  return false;
}

void AdviseLargeBuffer(char* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  // A new array costs a page fault, and a page to clear, for every 4 KiB as the read fills
  // it. Asking for all its pages in one call saves the faults (Linux 5.14 and later;
  // older systems refuse the advice and fault as before). Huge pages would save more in a
  // tight loop, but on a virtual machine that hands idle free memory back to its host,
  // touching a huge page given back costs its host far more: a first read of 256 MiB took
  // about six times as long as with small pages.
  constexpr std::size_t kLarge = std::size_t{1} << 20;
  if (size < kLarge) return;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + size) & ~(page - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace platform
