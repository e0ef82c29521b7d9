// Ctrl-C at the secret prompt gives the console its echo back: the prompt's control handler
// restores the console's mode before the process's next handler runs, so that a process a
// stop handler ends (or lets live) does not leave the user typing blind.

// Pseudo consoles are declared from Windows 10 1809 on.
#define _WIN32_WINNT 0x0A00
#define NTDDI_VERSION 0x0A000006
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/secret_input.h"

namespace {

// Ctrl-C is answered here, so that the test process survives it. Registered before the
// prompt's own handler, it is called after that one.
BOOL WINAPI swallowCtrlC(DWORD) { return TRUE; }

// Polls until `done` or about five seconds have passed; true when `done`.
bool waitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool echoIs(HANDLE console, bool on) {
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) && ((mode & ENABLE_ECHO_INPUT) != 0) == on;
}

INPUT_RECORD keyDown(wchar_t c, WORD virtualKey) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
  record.Event.KeyEvent.uChar.UnicodeChar = c;
  return record;
}

HANDLE openConsoleInput() {
  return CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// The console the test types at: the one the process has when run from a terminal, its mode
// put back afterwards (under Wine no other process is on it; on Windows the shell is, and
// gets the Ctrl-C too). Otherwise (under CTest standard input is a pipe or a file)
// a pseudo console of the test's own, so that the Ctrl-C generated on it reaches no other
// process. A pseudo console needs no window: under Wine there is no display for one, and
// AllocConsole gives a console that answers nothing. A process can only join a console
// another process is on: a command interpreter started on it lends it, and is ended once
// it has.
class TestConsole {
 public:
  TestConsole() {
    for (int i = 0; i < 3; ++i) stdHandles_[i] = GetStdHandle(stdIds_[i]);
    input_ = openConsoleInput();
    if (input_ != INVALID_HANDLE_VALUE && GetConsoleMode(input_, &oldMode_)) {
      restoreMode_ = true;
      return;
    }
    if (input_ != INVALID_HANDLE_VALUE) CloseHandle(input_);
    input_ = INVALID_HANDLE_VALUE;
    HANDLE keysRead = nullptr;
    HANDLE screenWrite = nullptr;
    // A roomy output pipe, never read: what the console draws must not block it.
    if (!CreatePipe(&keysRead, &keys_, nullptr, 0) ||
        !CreatePipe(&screen_, &screenWrite, nullptr, 1 << 20)) {
      fail("CreatePipe");
      return;
    }
    const HRESULT created = CreatePseudoConsole({80, 25}, keysRead, screenWrite, 0, &console_);
    CloseHandle(keysRead);
    CloseHandle(screenWrite);
    if (FAILED(created)) {
      console_ = nullptr;
      fail("CreatePseudoConsole");
      return;
    }
    PROCESS_INFORMATION lender{};
    if (!startOnConsole(&lender)) return;
    FreeConsole();
    detached_ = true;
    const bool joined = waitFor([&lender] { return AttachConsole(lender.dwProcessId) != 0; });
    if (!joined) fail("AttachConsole");
    TerminateProcess(lender.hProcess, 0);
    WaitForSingleObject(lender.hProcess, INFINITE);
    CloseHandle(lender.hProcess);
    CloseHandle(lender.hThread);
    if (!joined) return;
    input_ = openConsoleInput();
    if (input_ == INVALID_HANDLE_VALUE) fail("CreateFile CONIN$");
  }

  ~TestConsole() {
    if (restoreMode_) SetConsoleMode(input_, oldMode_);
    if (input_ != INVALID_HANDLE_VALUE) CloseHandle(input_);
    if (detached_) FreeConsole();
    // Nobody reads the output: closing its end first keeps ClosePseudoConsole from
    // waiting for it to be drained.
    if (screen_) CloseHandle(screen_);
    if (console_) ClosePseudoConsole(console_);
    if (keys_) CloseHandle(keys_);
    for (int i = 0; i < 3; ++i) SetStdHandle(stdIds_[i], stdHandles_[i]);
  }

  HANDLE input() const { return input_; }
  const std::string& error() const { return error_; }

 private:
  bool startOnConsole(PROCESS_INFORMATION* process) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<std::byte> attributes(size);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size) ||
        !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console_,
                                   sizeof console_, nullptr, nullptr)) {
      fail("UpdateProcThreadAttribute");
      return false;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = list;
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring program = std::wstring(system, length) + L"\\cmd.exe";
    std::wstring commandLine = L"cmd.exe /d";
    const bool started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                        FALSE, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                        &startup.StartupInfo, process) != 0;
    if (!started) fail("CreateProcess cmd.exe");
    DeleteProcThreadAttributeList(list);
    return started;
  }

  void fail(const char* call) {
    error_ = std::string(call) + " failed, error " + std::to_string(GetLastError());
  }

  static constexpr DWORD stdIds_[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE stdHandles_[3] = {};
  HANDLE keys_ = nullptr;
  HANDLE screen_ = nullptr;
  HPCON console_ = nullptr;
  HANDLE input_ = INVALID_HANDLE_VALUE;
  bool detached_ = false;
  bool restoreMode_ = false;
  DWORD oldMode_ = 0;
  std::string error_;
};

TEST(SecretInput, CtrlCAtTheConsolePromptTurnsTheEchoBackOn) {
  TestConsole console;
  ASSERT_EQ(console.error(), "");
  const HANDLE input = console.input();
  SetStdHandle(STD_INPUT_HANDLE, input);
  ASSERT_TRUE(SetConsoleMode(input, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT))
      << GetLastError();
  // Ctrl-C reaches the handlers even if this process was started to ignore it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(swallowCtrlC, TRUE);

  std::thread prompt([] { (void)platform::readSecretLine(); });

  const bool echoOff = waitFor([input] { return echoIs(input, false); });
  EXPECT_TRUE(echoOff) << "the prompt never switched the echo off";
  if (echoOff) {
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    EXPECT_TRUE(waitFor([input] { return echoIs(input, true); }))
        << "Ctrl-C at the prompt left the echo off";
  }

  // A generated Ctrl-C is no key in the input, so the read still waits for its line.
  const INPUT_RECORD line[] = {keyDown(L'x', 'X'), keyDown(L'\r', VK_RETURN)};
  DWORD written = 0;
  WriteConsoleInputW(input, line, 2, &written);
  prompt.join();
  SetConsoleCtrlHandler(swallowCtrlC, FALSE);
}

}  // namespace
