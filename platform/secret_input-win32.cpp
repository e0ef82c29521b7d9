// Windows implementation of reading a secret: a console is read as UTF-16 characters with
// its echo switched off; a file or pipe as UTF-8 bytes.
#include <windows.h>

#include <string>

#include "platform/secret_input.h"
#include "platform/win32.h"

namespace platform {

namespace {

// The console and its mode before the prompt, for the handler below.
HANDLE promptInput = nullptr;
DWORD promptMode = 0;

// Ctrl-C, Ctrl-Break or a closed console at the prompt: the console gets its echo back
// first, then the next handler (a stop, or the end of the process) does the rest. It runs
// on a thread of its own, where SetConsoleMode may be called.
BOOL WINAPI restoreConsoleMode(DWORD) {
  SetConsoleMode(promptInput, promptMode);
  return FALSE;
}

Expected<std::string> readConsoleLine(HANDLE input, DWORD mode) {
  promptInput = input;
  promptMode = mode;
  // Handlers are called last added first: this one before the stop handler.
  SetConsoleCtrlHandler(restoreConsoleMode, TRUE);
  SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
  std::wstring line;
  wchar_t c = 0;
  DWORD count = 0;
  bool ok = true;
  while ((ok = ReadConsoleW(input, &c, 1, &count, nullptr) != 0) && count == 1 && c != L'\n')
    line += c;
  const DWORD error = GetLastError();
  SetConsoleMode(input, mode);
  SetConsoleCtrlHandler(restoreConsoleMode, FALSE);
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), L"\r\n", 2, &written, nullptr);
  Error err;
  if (!ok) {
    setError(&err, static_cast<int>(error), "ReadConsoleW", "stdin");
    return err;
  }
  // Ctrl-C ends a line read with nothing read, when a stop handler let the process live.
  if (count == 0) return makeError("stdin", "interrupted before the secret was entered");
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  return narrow(line);
}

Expected<std::string> readFileLine(HANDLE input) {
  std::string line;
  char c = 0;
  DWORD count = 0;
  bool ok = true;
  while ((ok = ReadFile(input, &c, 1, &count, nullptr) != 0) && count == 1 && c != '\n') line += c;
  // A pipe whose writer has closed ends the input like an empty read.
  const DWORD error = GetLastError();
  if (!ok && error != ERROR_BROKEN_PIPE) {
    Error err;
    setError(&err, static_cast<int>(error), "ReadFile", "stdin");
    return err;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() && (count == 0 || !ok)) return makeError("stdin", "no line to read");
  return line;
}

}  // namespace

Expected<std::string> readSecretLine() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) return readConsoleLine(input, mode);
  return readFileLine(input);
}

}  // namespace platform
