// Win32 implementation of the console's system calls: text for a console goes out as
// UTF-16 through WriteConsoleW; redirected output keeps its bytes.
#include <windows.h>

#include <string>

#include "platform/system_calls.h"
#include "platform/win32.h"

namespace platform::sys {

namespace {

// Bytes at the end of a UTF-8 text that start a character not yet complete.
std::size_t incompleteTail(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

// One standard stream: its handle, whether it is a console, and the start of a UTF-8
// character that the last write cut off.
struct Stream {
  HANDLE handle = nullptr;
  bool console = false;
  std::string carry;
};

// The handle is asked for at each write: a program (or a test capturing stderr) may set
// another standard handle at any time, and a write must go where it now points.
Stream& streamOf(StandardStream which) {
  static Stream streams[2];
  Stream& stream = streams[which == StandardStream::kOutput ? 0 : 1];
  const HANDLE handle =
      GetStdHandle(which == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (stream.handle != handle) {
    stream.handle = handle;
    stream.carry.clear();
    DWORD mode = 0;
    stream.console = stream.handle != INVALID_HANDLE_VALUE && stream.handle != nullptr &&
                     GetConsoleMode(stream.handle, &mode);
  }
  return stream;
}

}  // namespace

Handle::Native standardStream(StandardStream stream) { return streamOf(stream).handle; }

bool isConsole(StandardStream stream) { return streamOf(stream).console; }

bool consoleShowsAsIs(TextEncoding) { return false; }

Status writeConsole(StandardStream which, std::string_view bytes, TextEncoding encoding) {
  Stream& stream = streamOf(which);
  std::wstring text;
  if (encoding == TextEncoding::kLatin1) {
    for (const char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
  } else {
    std::string utf8 = std::move(stream.carry);
    utf8.append(bytes);
    const std::size_t tail = incompleteTail(utf8);
    stream.carry = utf8.substr(utf8.size() - tail);
    utf8.resize(utf8.size() - tail);
    text = widenText(utf8);
  }
  for (std::size_t done = 0; done < text.size();) {
    DWORD written = 0;
    if (!WriteConsoleW(stream.handle, text.data() + done, static_cast<DWORD>(text.size() - done),
                       &written, nullptr) ||
        written == 0) {
      return systemError(static_cast<int>(GetLastError()), "WriteConsoleW", "");
    }
    done += written;
  }
  return {};
}

}  // namespace platform::sys
