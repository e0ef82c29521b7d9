// Win32 implementation of a local stream: a named pipe opened for overlapped I/O, so that
// every read and write can be waited on for a time and cancelled after it.
#include <windows.h>

#include <algorithm>

#include "platform/local_stream.h"
#include "platform/win32.h"

namespace platform {

namespace {

constexpr DWORD kLargestTransfer = 1 << 20;
constexpr int kPeekSliceMs = 10;

int lastError() { return static_cast<int>(GetLastError()); }

bool isClosed(DWORD error) {
  return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA;
}

// One ReadFile or WriteFile, which `start` begins on an overlapped structure, waited on up
// to timeoutMs and cancelled after that: the count of bytes it moved (0: the time ran out).
template <class Start>
Expected<std::size_t> transfer(HANDLE pipe, Start start, int timeoutMs, const char* call,
                               const std::string& path) {
  const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return systemError(lastError(), "CreateEventW", path);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  if (!start(&overlapped)) {
    const DWORD error = GetLastError();
    if (isClosed(error)) return makeError(path, "the other end closed the connection");
    if (error != ERROR_IO_PENDING) return systemError(static_cast<int>(error), call, path);
    if (WaitForSingleObject(event.get(), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
      CancelIoEx(pipe, &overlapped);
    }
  }
  DWORD count = 0;
  if (GetOverlappedResult(pipe, &overlapped, &count, TRUE)) return std::size_t{count};
  const DWORD error = GetLastError();
  // A message longer than the buffer: the rest comes with the next read.
  if (error == ERROR_MORE_DATA) return std::size_t{count};
  if (error == ERROR_OPERATION_ABORTED) return std::size_t{0};  // the time ran out
  if (isClosed(error)) return makeError(path, "the other end closed the connection");
  return systemError(static_cast<int>(error), call, path);
}

}  // namespace

std::string localStreamPath(std::string_view name) {
  return std::string("\\\\?\\pipe\\").append(name);
}

Expected<LocalStream> LocalStream::connect(const std::string& path, int timeoutMs) {
  const Expected<std::wstring> wide = widenPath(path);
  if (!wide) return wide.error();
  // The server learns who connects but may not act as this user.
  constexpr DWORD kFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
  HANDLE pipe = CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            kFlags, nullptr);
  // Every instance of the pipe is taken: one may come free in the time given.
  if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
      WaitNamedPipeW(wide->c_str(), static_cast<DWORD>(timeoutMs))) {
    pipe = CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       kFlags, nullptr);
  }
  if (pipe == INVALID_HANDLE_VALUE) return systemError(lastError(), "CreateFileW", path);
  LocalStream stream;
  stream.handle_ = Handle(pipe);
  stream.path_ = path;
  return stream;
}

Expected<std::size_t> LocalStream::readSome(char* buffer, std::size_t size, int timeoutMs) {
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, kLargestTransfer));
  HANDLE pipe = handle_.get();
  return transfer(
      pipe,
      [&](OVERLAPPED* overlapped) { return ReadFile(pipe, buffer, wanted, nullptr, overlapped); },
      timeoutMs, "ReadFile", path_);
}

Expected<std::size_t> LocalStream::writeSome(const char* bytes, std::size_t size, int timeoutMs) {
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, kLargestTransfer));
  HANDLE pipe = handle_.get();
  return transfer(
      pipe,
      [&](OVERLAPPED* overlapped) { return WriteFile(pipe, bytes, wanted, nullptr, overlapped); },
      timeoutMs, "WriteFile", path_);
}

bool LocalStream::readable(int timeoutMs) {
  if (!handle_) return false;
  for (int waited = 0;; waited += kPeekSliceMs) {
    DWORD available = 0;
    // A failed peek is a closed pipe: the next read reports it.
    if (!PeekNamedPipe(handle_.get(), nullptr, 0, nullptr, &available, nullptr)) return true;
    if (available > 0) return true;
    if (waited >= timeoutMs) return false;
    Sleep(kPeekSliceMs);
  }
}

}  // namespace platform
