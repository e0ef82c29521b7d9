// Win32 implementation of the file-system services of the utility classes.
#include <windows.h>

#include "platform/file_system.h"

namespace platform {

bool FileModificationTime(const std::string& path, std::time_t* mtime, Error* err) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    SetError(err, static_cast<int>(GetLastError()), "stat", "");
    return false;
  }
  // FILETIME counts 100-nanosecond steps since 1601; time_t counts seconds since 1970.
  const unsigned long long ticks =
      static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32 |
      data.ftLastWriteTime.dwLowDateTime;
  constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ull;
  *mtime =
      static_cast<std::time_t>((static_cast<long long>(ticks - kTicksFrom1601To1970)) / 10000000LL);
  return true;
}

bool RemoveFile(const std::string& path, Error* err) {
  if (DeleteFileA(path.c_str())) return true;
  SetError(err, static_cast<int>(GetLastError()), "DeleteFileA", path);
  return false;
}

void AdviseLargeBuffer(char*, std::size_t) {}

}  // namespace platform
