// POSIX implementation of the file-system services of the utility classes.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/file_system.h"

namespace platform {

bool FileModificationTime(const std::string& path, std::time_t* mtime) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return false;
  *mtime = status.st_mtime;
  return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

void AdviseLargeBuffer(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  // A new array costs a page fault and a page to clear for every 4 KiB, which takes longer
  // than copying a file from the page cache; huge pages make that one fault per 2 MiB.
  // Only arrays of 32 MiB or more, which the C library maps on their own, so that no
  // neighbouring allocation is affected.
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (size < (std::size_t{32} << 20)) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + size) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace platform
