// Win32 implementation of the files written whole.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "platform/console.h"
#include "platform/output_file.h"

namespace platform {

namespace {

HANDLE toHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// The UTF-16 form of a UTF-8 text; false when it is not UTF-8.
bool widen(const std::string& text, std::wstring* wide, Error* err) {
  wide->clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) {
    SetError(err, static_cast<int>(GetLastError()), "MultiByteToWideChar", text);
    return false;
  }
  wide->resize(static_cast<std::size_t>(length));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide->data(), length);
  return true;
}

std::string narrow(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(length - 1));
  return utf8;
}

// A reader that has the target open (a streaming program polling it, a virus scanner)
// makes the rename fail for a moment; it is tried again for up to about a second.
constexpr int kRenameAttempts = 50;
constexpr DWORD kRenamePauseMs = 20;

bool isBusy(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string& path, Error* err) {
  Discard();
  static unsigned count = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary =
        path + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(count++) + ".tmp";
    std::wstring wide;
    if (!widen(temporary, &wide, err)) return false;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(file);
      path_ = path;
      temporary_ = std::move(temporary);
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      SetError(err, static_cast<int>(error), "CreateFileW", temporary);
      return false;
    }
  }
  SetError(err, ERROR_FILE_EXISTS, "CreateFileW", path + ".*.tmp");
  return false;
}

void OutputFile::OpenStandardOutput() {
  Discard();
  handle_ = reinterpret_cast<std::intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE));
  standardOutput_ = true;
}

bool OutputFile::Write(std::string_view data, Error* err) {
  // Standard output may be a console, which shows UTF-8 only when written as UTF-16.
  if (standardOutput_)
    return WriteStandard(StandardStream::kOutput, data, TextEncoding::kUtf8, err);
  while (!data.empty()) {
    const DWORD chunk = data.size() < 0x40000000u ? static_cast<DWORD>(data.size()) : 0x40000000u;
    DWORD written = 0;
    const bool wrote = WriteFile(toHandle(handle_), data.data(), chunk, &written, nullptr) != 0;
    if (!wrote || written == 0) {
      SetError(err, static_cast<int>(wrote ? ERROR_DISK_FULL : GetLastError()), "WriteFile",
               standardOutput_ ? std::string("standard output") : temporary_);
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

bool OutputFile::Commit(Error* err) {
  if (standardOutput_) {
    handle_ = -1;
    standardOutput_ = false;
    return true;
  }
  HANDLE file = toHandle(handle_);
  handle_ = -1;
  bool ok = true;
  if (!FlushFileBuffers(file)) {
    SetError(err, static_cast<int>(GetLastError()), "FlushFileBuffers", temporary_);
    ok = false;
  }
  if (!CloseHandle(file) && ok) {
    SetError(err, static_cast<int>(GetLastError()), "CloseHandle", temporary_);
    ok = false;
  }
  std::wstring from;
  std::wstring to;
  ok = ok && widen(temporary_, &from, err) && widen(path_, &to, err);
  for (int attempt = 1; ok; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      break;
    }
    const DWORD error = GetLastError();
    if (!isBusy(error) || attempt == kRenameAttempts) {
      SetError(err, static_cast<int>(error), "MoveFileExW", temporary_ + " -> " + path_);
      ok = false;
    } else {
      Sleep(kRenamePauseMs);
    }
  }
  if (!ok && widen(temporary_, &from, nullptr)) DeleteFileW(from.c_str());
  temporary_.clear();
  return ok;
}

void OutputFile::Discard() {
  if (standardOutput_) {
    standardOutput_ = false;
  } else if (handle_ != -1) {
    CloseHandle(toHandle(handle_));
    std::wstring wide;
    if (widen(temporary_, &wide, nullptr)) DeleteFileW(wide.c_str());
    temporary_.clear();
  }
  handle_ = -1;
}

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(toHandle(handle_));
}

bool InputFile::Open(const std::string& path, Error* err) {
  std::wstring wide;
  if (!widen(path, &wide, err)) return false;
  // The tracker may still be appending to a playlist while it is read.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetError(err, static_cast<int>(GetLastError()), "CreateFileW", path);
    return false;
  }
  if (handle_ != -1) CloseHandle(toHandle(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(file);
  path_ = path;
  return true;
}

std::ptrdiff_t InputFile::Read(char* data, std::size_t size, Error* err) {
  const DWORD chunk = size < 0x40000000u ? static_cast<DWORD>(size) : 0x40000000u;
  DWORD read = 0;
  if (!ReadFile(toHandle(handle_), data, chunk, &read, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    SetError(err, static_cast<int>(error), "ReadFile", path_);
    return -1;
  }
  return static_cast<std::ptrdiff_t>(read);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) arguments.push_back(narrow(wide[i]));
  } else {
    arguments.assign(argv, argv + argc);
  }
  if (wide != nullptr) LocalFree(wide);
  return arguments;
}

}  // namespace platform
