// Win32 implementation of file identities.
#include <windows.h>

#include "platform/file_identity.h"
#include "platform/handle.h"
#include "platform/win32.h"

namespace platform {

namespace {

// Opens what path names, following links, without asking for access to its contents.
Handle openForStatus(const std::string& path, DWORD* error, Error* err) {
  return openPath(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, error, err);
}

}  // namespace

StatResult statPath(const std::string& path, FileStatus* status, Error* err) {
  DWORD error = 0;
  const Handle file = openForStatus(path, &error, err);
  if (!file) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? StatResult::kMissing
                                                                          : StatResult::kFailed;
  }
  *status = FileStatus{};
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file.get()) == FILE_TYPE_DISK && GetFileInformationByHandle(file.get(), &info)) {
    status->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    status->readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    status->identified = true;
    status->volume = info.dwVolumeSerialNumber;
    status->index = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    status->modified = toTime(info.ftLastWriteTime);
    status->size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  }
  return StatResult::kFound;
}

std::string followLinks(const std::string& path) {
  const Expected<std::wstring> widened = widenPath(path);
  if (!widened) return path;
  const std::wstring& wide = *widened;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  DWORD error = 0;
  const Handle file = openForStatus(path, &error, nullptr);
  if (!file) return path;
  std::wstring target(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.get(), target.data(),
                                           static_cast<DWORD>(target.size()), FILE_NAME_NORMALIZED);
  if (length >= target.size()) {
    target.resize(length + 1);
    length = GetFinalPathNameByHandleW(file.get(), target.data(), static_cast<DWORD>(target.size()),
                                       FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length >= target.size()) return path;
  target.resize(length);
  return narrow(target);
}

Status setPermissions(const std::string&, std::uint32_t) { return {}; }

}  // namespace platform
