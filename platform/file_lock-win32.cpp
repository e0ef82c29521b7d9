// Win32 implementation of holding a file against writers.
#include <windows.h>

#include "platform/file_lock.h"

namespace platform {

bool HoldForReading(const std::string& path, File* file, Error* err) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetError(err, static_cast<int>(GetLastError()), "CreateFileA", path);
    return false;
  }
  *file = reinterpret_cast<File>(handle);
  return true;
}

void Release(File file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

}  // namespace platform
