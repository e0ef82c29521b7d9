// Win32 implementation of the tracker's platform services.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

DWORD lastError = 0;
volatile LONG stopRequested = 0;

HANDLE toHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t fromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// Runs on a thread of its own. Ctrl-C and Ctrl-Break only ask the loop to stop. Closing
// the console ends the process once the handler returns, so the handler waits a while
// for the loop to finish the poll it is in and return from main.
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      InterlockedExchange(&stopRequested, 1);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      InterlockedExchange(&stopRequested, 1);
      Sleep(4000);
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

BlockHandle OpenBlock(const char* name) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (mapping == nullptr) {
    lastError = GetLastError();
    return kNoBlock;
  }
  return fromHandle(mapping);
}

const char* MapBlock(BlockHandle block) {
  void* view = MapViewOfFile(toHandle(block), FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize);
  if (view == nullptr) {
    lastError = GetLastError();
    return nullptr;
  }
  // A section smaller than the view may still map; reading past its end would fault.
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(view, &region, sizeof region) == 0 || region.RegionSize < kBlockSize) {
    lastError = ERROR_INVALID_PARAMETER;
    UnmapViewOfFile(view);
    return nullptr;
  }
  return static_cast<const char*>(view);
}

void CloseBlock(BlockHandle block) { CloseHandle(toHandle(block)); }

int LastError() { return static_cast<int>(lastError); }

void ShowMessage(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

void InstallStopHandler() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool StopRequested() { return stopRequested != 0; }

void SleepMilliseconds(int ms) { Sleep(static_cast<DWORD>(ms)); }

CreateResult CreateNewFile(const std::string& path, File* file) {
  HANDLE handle = openForWriting(path, CREATE_NEW);
  if (handle != INVALID_HANDLE_VALUE) {
    *file = fromHandle(handle);
    return CreateResult::kCreated;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CreateResult::kExists;
  // A folder of that name refuses access rather than reporting that it exists.
  if (error == ERROR_ACCESS_DENIED && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return CreateResult::kExists;
  }
  return CreateResult::kFailed;
}

bool OpenForAppend(const std::string& path, File* file) {
  HANDLE handle = openForWriting(path, OPEN_ALWAYS);
  *file = fromHandle(handle);
  return handle != INVALID_HANDLE_VALUE;
}

bool AppendAll(File file, std::string_view data) {
  HANDLE handle = toHandle(file);
  LARGE_INTEGER start;
  const LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(handle, zero, &start, FILE_END)) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(data.size() - done);
    DWORD written = 0;
    if (!WriteFile(handle, data.data() + done, chunk, &written, nullptr) || written == 0) {
      // Leave no partial line behind: cut the file back to where this write began.
      SetFilePointerEx(handle, start, nullptr, FILE_BEGIN);
      SetEndOfFile(handle);
      return false;
    }
    done += written;
  }
  return true;
}

bool SyncAndClose(File file) {
  HANDLE handle = toHandle(file);
  const bool flushed = FlushFileBuffers(handle) != 0;
  const bool closed = CloseHandle(handle) != 0;
  return flushed && closed;
}

}  // namespace platform
