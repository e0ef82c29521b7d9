// Win32 implementation of the process's platform services.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>

#include "platform/platform.h"
#include "platform/win32.h"

namespace platform {

namespace {

volatile LONG stopFlag = 0;
// Set by a stop, waking a sleep that waits on it.
HANDLE stopEvent = nullptr;
// Set once main has returned or exit was called, so a closing console need not wait longer.
HANDLE finishedEvent = nullptr;

void onExit() { SetEvent(finishedEvent); }

// Runs on a thread of its own. Ctrl-C and Ctrl-Break only ask the loop to stop. Closing
// the console ends the process once the handler returns, so the handler waits until the
// run has finished (at most the five seconds Windows grants).
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      requestStop();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      requestStop();
      WaitForSingleObject(finishedEvent, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::string systemMessage(int code) {
  wchar_t reason[256] = L"";
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, reason, 256, nullptr);
  while (length > 0 && (reason[length - 1] == L'\n' || reason[length - 1] == L'\r' ||
                        reason[length - 1] == L'.')) {
    --length;
  }
  return length > 0 ? narrow(std::wstring_view(reason, length)) : "error " + std::to_string(code);
}

Expected<Handle> openBlock(const char* name) {
  Handle mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name));
  if (!mapping) return systemError(static_cast<int>(GetLastError()), "OpenFileMappingA", name);
  return mapping;
}

Expected<const char*> mapBlock(const Handle& block, std::size_t size) {
  void* view = MapViewOfFile(block.get(), FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    return systemError(static_cast<int>(GetLastError()), "MapViewOfFile", "");
  }
  // A section smaller than the view may still map; reading past its end would fault.
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(view, &region, sizeof region) == 0 || region.RegionSize < size) {
    Error err =
        systemError(ERROR_INVALID_PARAMETER, "MapViewOfFile", "section smaller than the view");
    UnmapViewOfFile(view);
    return err;
  }
  return static_cast<const char*>(view);
}

bool blockRemoved(const Handle&) { return false; }

void unmapBlock(const char* view, std::size_t) { UnmapViewOfFile(view); }

void showMessage(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

void installStopHandler() {
  if (stopEvent == nullptr) {
    stopEvent = CreateEventA(nullptr, TRUE, stopRequested(), nullptr);
    finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atexit(onExit);
  }
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested() { return stopFlag != 0; }

void requestStop() {
  InterlockedExchange(&stopFlag, 1);
  if (stopEvent != nullptr) SetEvent(stopEvent);
}

void sleepMilliseconds(int ms) {
  if (stopRequested()) return;
  if (stopEvent == nullptr) {
    Sleep(static_cast<DWORD>(ms));
  } else {
    WaitForSingleObject(stopEvent, static_cast<DWORD>(ms));
  }
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
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
