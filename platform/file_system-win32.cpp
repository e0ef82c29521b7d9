// Win32 implementation of the file system calls, through the W calls with UTF-16 paths.
#include <windows.h>

#include "platform/file_system.h"
#include "platform/system_calls.h"
#include "platform/win32.h"

namespace platform {

namespace {

// A reader that has the target open (a streaming program polling it, a virus scanner)
// makes the rename fail for a moment; it is tried again for up to about a second.
constexpr int kRenameAttempts = 50;
constexpr DWORD kRenamePauseMs = 20;

bool isBusy(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

int lastError() { return static_cast<int>(GetLastError()); }

// The UTF-16 form of the UTF-8 text, converted with the given flags; false when it is
// not UTF-8 (with MB_ERR_INVALID_CHARS).
bool toUtf16(std::string_view text, DWORD flags, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide->resize(static_cast<std::size_t>(length));
  MultiByteToWideChar(CP_UTF8, flags, text.data(), size, wide->data(), length);
  return true;
}

// Creates a new file for writing with the given sharing.
CreateResult createNew(const std::string& path, DWORD share, Handle* file, Error* err) {
  DWORD error = 0;
  *file = openPath(path, GENERIC_WRITE, share, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, &error, err);
  if (*file) return CreateResult::kCreated;
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CreateResult::kExists;
  // A folder of that name refuses access rather than reporting that it exists.
  Expected<std::wstring> wide = widenPath(path);
  if (error == ERROR_ACCESS_DENIED && wide &&
      GetFileAttributesW(wide->c_str()) != INVALID_FILE_ATTRIBUTES) {
    return CreateResult::kExists;
  }
  return CreateResult::kFailed;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

Expected<std::wstring> widenPath(const std::string& path) {
  std::wstring wide;
  if (toUtf16(path, MB_ERR_INVALID_CHARS, &wide)) return wide;
  return systemError(lastError(), "MultiByteToWideChar", path);
}

std::wstring widenText(std::string_view utf8) {
  std::wstring wide;
  toUtf16(utf8, 0, &wide);
  return wide;
}

std::string narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

// Opens a file by its UTF-8 path with CreateFileW; on failure an empty handle, with the
// system's error code in *error and *err.
Handle openPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                DWORD* error, Error* err) {
  const Expected<std::wstring> widened = widenPath(path);
  if (!widened) {
    if (err != nullptr) *err = widened.error();
    *error = ERROR_NO_UNICODE_TRANSLATION;
    return Handle();
  }
  HANDLE handle =
      CreateFileW(widened->c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return Handle(handle);
  *error = GetLastError();
  setError(err, static_cast<int>(*error), "CreateFileW", path);
  return Handle();
}

std::time_t toTime(const FILETIME& time) {
  // FILETIME counts 100-nanosecond steps since 1601; time_t counts seconds since 1970.
  const unsigned long long ticks =
      static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ull;
  return static_cast<std::time_t>(static_cast<long long>(ticks - kTicksFrom1601To1970) /
                                  10000000LL);
}

void Handle::closeNative(Native native) { CloseHandle(native); }

CreateResult createNewFile(const std::string& path, File* file, Error* err) {
  file->path = path;
  return createNew(path, kShareAll, &file->handle, err);
}

OpenResult openForAppend(const std::string& path, File* file, Error* err) {
  file->path = path;
  DWORD error = 0;
  file->handle =
      openPath(path, GENERIC_WRITE, kShareAll, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, &error, err);
  if (file->handle) return OpenResult::kOpened;
  // Another program holds the file without sharing write access (a spreadsheet showing
  // it, say): unlike after any other failure, a later attempt may succeed.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? OpenResult::kInUse
                                                                           : OpenResult::kFailed;
}

Expected<std::time_t> fileModificationTime(const std::string& path) {
  const Expected<std::wstring> wide = widenPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!wide || !GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data)) {
    return systemError(lastError(), "stat", path);
  }
  return toTime(data.ftLastWriteTime);
}

Status createParentFolders(const std::string& path) {
  const Expected<std::wstring> widened = widenPath(path);
  if (!widened) return widened.error();
  const std::wstring& wide = *widened;
  // A share's \\server\name and a drive's C: are there or not; they cannot be made.
  const std::size_t start = wide.rfind(L"\\\\", 0) == 0 ? wide.find_first_of(L"\\/", 2) + 1 : 0;
  for (std::size_t slash = wide.find_first_of(L"\\/", start + 1); slash != std::wstring::npos;
       slash = wide.find_first_of(L"\\/", slash + 1)) {
    const std::wstring folder = wide.substr(0, slash);
    if (folder.back() == L':' || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
      continue;
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return systemError(lastError(), "CreateDirectoryW", narrow(folder));
    }
  }
  return {};
}

Status removeFile(const std::string& path) {
  const Expected<std::wstring> wide = widenPath(path);
  if (!wide) return wide.error();
  if (DeleteFileW(wide->c_str())) return {};
  return systemError(lastError(), "DeleteFileW", path);
}

std::string utf8FromNarrowName(const std::string& name) {
  if (name.empty()) return name;
  const int size = static_cast<int>(name.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
  if (length <= 0) return name;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), length);
  return narrow(wide);
}

namespace sys {

CreateResult createTemporary(const std::string& path, bool, Handle* file, Error* err) {
  return createNew(path, FILE_SHARE_READ, file, err);
}

Expected<Handle> openForWriting(const std::string& path) {
  DWORD error = 0;
  Error err;
  Handle file = openPath(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING, 0, &error, &err);
  if (!file) return err;
  return file;
}

Expected<Handle> openForReading(const std::string& path) {
  // The tracker may still be appending to a playlist while it is read.
  DWORD error = 0;
  Error err;
  Handle file = openPath(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                         &error, &err);
  if (!file) return err;
  return file;
}

Expected<std::size_t> writeSome(Handle::Native file, std::string_view data,
                                std::string_view subject) {
  const DWORD chunk = data.size() < 0x40000000u ? static_cast<DWORD>(data.size()) : 0x40000000u;
  DWORD count = 0;
  const bool wrote = WriteFile(file, data.data(), chunk, &count, nullptr) != 0;
  if (wrote && count > 0) return std::size_t{count};
  return systemError(wrote ? ERROR_DISK_FULL : lastError(), "WriteFile", subject);
}

Expected<std::size_t> readSome(Handle::Native file, char* data, std::size_t size,
                               std::string_view subject) {
  const DWORD chunk = size < 0x40000000u ? static_cast<DWORD>(size) : 0x40000000u;
  DWORD count = 0;
  if (ReadFile(file, data, chunk, &count, nullptr)) return std::size_t{count};
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return std::size_t{0};
  return systemError(static_cast<int>(error), "ReadFile", subject);
}

Expected<std::uint64_t> seekEnd(Handle::Native file, std::string_view subject) {
  LARGE_INTEGER position;
  const LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(file, zero, &position, FILE_END)) {
    return systemError(lastError(), "SetFilePointerEx", subject);
  }
  return static_cast<std::uint64_t>(position.QuadPart);
}

Status truncate(Handle::Native file, std::uint64_t size, std::string_view subject) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  if (SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file)) return {};
  return systemError(lastError(), "SetEndOfFile", subject);
}

Status sync(Handle::Native file, std::string_view subject) {
  if (FlushFileBuffers(file)) return {};
  return systemError(lastError(), "FlushFileBuffers", subject);
}

Status close(Handle& file, std::string_view subject) {
  if (CloseHandle(file.release())) return {};
  return systemError(lastError(), "CloseHandle", subject);
}

Status replace(const std::string& from, const std::string& to) {
  const Expected<std::wstring> wideFrom = widenPath(from);
  if (!wideFrom) return wideFrom.error();
  const Expected<std::wstring> wideTo = widenPath(to);
  if (!wideTo) return wideTo.error();
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(wideFrom->c_str(), wideTo->c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    const DWORD error = GetLastError();
    if (!isBusy(error) || attempt == kRenameAttempts) {
      return systemError(static_cast<int>(error), "MoveFileExW", from + " -> " + to);
    }
    Sleep(kRenamePauseMs);
  }
}

unsigned long processId() { return GetCurrentProcessId(); }

bool processRunning(unsigned long id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

}  // namespace sys

}  // namespace platform
