// Win32 implementation of file identities.
#include <windows.h>

#include "platform/file_identity.h"

namespace platform {

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  }
  return utf8;
}

// Opens what path names, following links, without asking for access to its contents.
HANDLE openForStatus(const std::string& path) {
  return CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

StatResult StatPath(const std::string& path, FileStatus* status, Error* err) {
  HANDLE file = openForStatus(path);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    SetError(err, static_cast<int>(error), "CreateFileW", path);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? StatResult::kMissing
                                                                          : StatResult::kFailed;
  }
  *status = FileStatus{};
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)) {
    status->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    status->identified = true;
    status->volume = info.dwVolumeSerialNumber;
    status->index = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    // FILETIME counts 100-nanosecond steps since 1601; time_t counts seconds since 1970.
    const unsigned long long ticks =
        static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32 |
        info.ftLastWriteTime.dwLowDateTime;
    constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ull;
    status->modified =
        static_cast<std::time_t>(static_cast<long long>(ticks - kTicksFrom1601To1970) / 10000000LL);
  }
  CloseHandle(file);
  return StatResult::kFound;
}

std::string FollowLinks(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  HANDLE file = openForStatus(path);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::wstring target(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()),
                                           FILE_NAME_NORMALIZED);
  if (length >= target.size()) {
    target.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()),
                                       FILE_NAME_NORMALIZED);
  }
  CloseHandle(file);
  if (length == 0 || length >= target.size()) return path;
  target.resize(length);
  return narrow(target);
}

bool SetPermissions(const std::string&, std::uint32_t, Error*) { return true; }

}  // namespace platform
