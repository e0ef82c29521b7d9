// Win32 implementation of the tracker's platform services.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"

namespace platform {

namespace {

volatile LONG stopRequested = 0;
// Set by a stop, waking a sleep that waits on it.
HANDLE stopEvent = nullptr;
// Set once main has returned or exit was called, so a closing console need not wait longer.
HANDLE finishedEvent = nullptr;

HANDLE toHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t fromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

void onExit() { SetEvent(finishedEvent); }

// Runs on a thread of its own. Ctrl-C and Ctrl-Break only ask the loop to stop. Closing
// the console ends the process once the handler returns, so the handler waits until the
// run has finished (at most the five seconds Windows grants).
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      RequestStop();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      RequestStop();
      WaitForSingleObject(finishedEvent, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

// Opens a file for writing with the given disposition; INVALID_HANDLE_VALUE on failure.
HANDLE openForWriting(const std::string& path, DWORD disposition) {
  return CreateFileA(path.c_str(), GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string SystemMessage(int code) {
  char reason[256] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, reason, sizeof reason, nullptr);
  while (length > 0 &&
         (reason[length - 1] == '\n' || reason[length - 1] == '\r' || reason[length - 1] == '.')) {
    --length;
  }
  return length > 0 ? std::string(reason, length) : "error " + std::to_string(code);
}

BlockHandle OpenBlock(const char* name, Error* err) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (mapping == nullptr) {
    SetError(err, static_cast<int>(GetLastError()), "OpenFileMappingA", name);
    return kNoBlock;
  }
  return fromHandle(mapping);
}

const char* MapBlock(BlockHandle block, std::size_t size, Error* err) {
  void* view = MapViewOfFile(toHandle(block), FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    SetError(err, static_cast<int>(GetLastError()), "MapViewOfFile", "");
    return nullptr;
  }
  // A section smaller than the view may still map; reading past its end would fault.
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(view, &region, sizeof region) == 0 || region.RegionSize < size) {
    SetError(err, ERROR_INVALID_PARAMETER, "MapViewOfFile", "section smaller than the view");
    UnmapViewOfFile(view);
    return nullptr;
  }
  return static_cast<const char*>(view);
}

void CloseBlock(BlockHandle block) { CloseHandle(toHandle(block)); }

bool BlockRemoved(BlockHandle) { return false; }

void UnmapBlock(const char* view, std::size_t) { UnmapViewOfFile(view); }

void ShowMessage(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

void InstallStopHandler() {
  if (stopEvent == nullptr) {
    stopEvent = CreateEventA(nullptr, TRUE, StopRequested(), nullptr);
    finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atexit(onExit);
  }
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool StopRequested() { return stopRequested != 0; }

void RequestStop() {
  InterlockedExchange(&stopRequested, 1);
  if (stopEvent != nullptr) SetEvent(stopEvent);
}

void SleepMilliseconds(int ms) {
  if (StopRequested()) return;
  if (stopEvent == nullptr) {
    Sleep(static_cast<DWORD>(ms));
  } else {
    WaitForSingleObject(stopEvent, static_cast<DWORD>(ms));
  }
}

CreateResult CreateNewFile(const std::string& path, File* file, Error* err) {
  HANDLE handle = openForWriting(path, CREATE_NEW);
  if (handle != INVALID_HANDLE_VALUE) {
    *file = fromHandle(handle);
    return CreateResult::kCreated;
  }
  const DWORD error = GetLastError();
  SetError(err, static_cast<int>(error), "CreateFileA", path);
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CreateResult::kExists;
  // A folder of that name refuses access rather than reporting that it exists.
  if (error == ERROR_ACCESS_DENIED && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return CreateResult::kExists;
  }
  return CreateResult::kFailed;
}

OpenResult OpenForAppend(const std::string& path, File* file, Error* err) {
  HANDLE handle = openForWriting(path, OPEN_ALWAYS);
  *file = fromHandle(handle);
  if (handle != INVALID_HANDLE_VALUE) return OpenResult::kOpened;
  const DWORD error = GetLastError();
  SetError(err, static_cast<int>(error), "CreateFileA", path);
  // Another program holds the file without sharing write access (a spreadsheet showing
  // it, say): unlike after any other failure, a later attempt may succeed.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? OpenResult::kInUse
                                                                           : OpenResult::kFailed;
}

bool AppendAll(File file, std::string_view data, Error* err) {
  HANDLE handle = toHandle(file);
  LARGE_INTEGER start;
  const LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(handle, zero, &start, FILE_END)) {
    SetError(err, static_cast<int>(GetLastError()), "SetFilePointerEx", "");
    return false;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(data.size() - done);
    DWORD written = 0;
    const bool wrote = WriteFile(handle, data.data() + done, chunk, &written, nullptr) != 0;
    if (!wrote || written == 0) {
      SetError(err, static_cast<int>(wrote ? ERROR_DISK_FULL : GetLastError()), "WriteFile", "");
      // Leave no partial line behind: cut the file back to where this write began.
      SetFilePointerEx(handle, start, nullptr, FILE_BEGIN);
      SetEndOfFile(handle);
      return false;
    }
    done += written;
  }
  return true;
}

bool SyncAndClose(File file, Error* err) {
  HANDLE handle = toHandle(file);
  bool ok = true;
  if (!FlushFileBuffers(handle)) {
    SetError(err, static_cast<int>(GetLastError()), "FlushFileBuffers", "");
    ok = false;
  }
  if (!CloseHandle(handle)) {
    if (ok) SetError(err, static_cast<int>(GetLastError()), "CloseHandle", "");
    ok = false;
  }
  return ok;
}

}  // namespace platform
