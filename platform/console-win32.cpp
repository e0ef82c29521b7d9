// Win32 implementation of the console service: text for a console goes out as UTF-16
// through WriteConsoleW; redirected output keeps its bytes.
#include <windows.h>

#include <iostream>
#include <streambuf>
#include <string>

#include "platform/console.h"

namespace platform {

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

Stream& streamOf(StandardStream which) {
  static Stream streams[2];
  Stream& stream = streams[which == StandardStream::kOutput ? 0 : 1];
  if (stream.handle == nullptr) {
    stream.handle =
        GetStdHandle(which == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    stream.console = stream.handle != INVALID_HANDLE_VALUE && stream.handle != nullptr &&
                     GetConsoleMode(stream.handle, &mode);
  }
  return stream;
}

bool writeConsole(Stream& stream, std::string_view bytes, TextEncoding encoding, Error* err) {
  std::wstring text;
  if (encoding == TextEncoding::kLatin1) {
    for (const char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
  } else {
    std::string utf8 = std::move(stream.carry);
    utf8.append(bytes);
    const std::size_t tail = incompleteTail(utf8);
    stream.carry = utf8.substr(utf8.size() - tail);
    utf8.resize(utf8.size() - tail);
    if (!utf8.empty()) {
      const int size = static_cast<int>(utf8.size());
      const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
      text.resize(static_cast<std::size_t>(units));
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), units);
    }
  }
  for (std::size_t done = 0; done < text.size();) {
    DWORD written = 0;
    if (!WriteConsoleW(stream.handle, text.data() + done, static_cast<DWORD>(text.size() - done),
                       &written, nullptr) ||
        written == 0) {
      SetError(err, static_cast<int>(GetLastError()), "WriteConsoleW", "");
      return false;
    }
    done += written;
  }
  return true;
}

// A stream buffer that hands what it collects to WriteStandard on every flush.
class ConsoleBuffer : public std::streambuf {
 public:
  ConsoleBuffer(StandardStream stream, TextEncoding encoding)
      : stream_(stream), encoding_(encoding) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    const std::string_view bytes(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return WriteStandard(stream_, bytes, encoding_, nullptr) ? 0 : -1;
  }

 private:
  StandardStream stream_;
  TextEncoding encoding_;
  char buffer_[4096];
};

void attach(StandardStream which, std::ostream& out, TextEncoding encoding) {
  if (!streamOf(which).console) return;
  out.flush();
  out.rdbuf(new ConsoleBuffer(which, encoding));  // lives as long as the process
}

}  // namespace

bool WriteStandard(StandardStream which, std::string_view bytes, TextEncoding encoding,
                   Error* err) {
  Stream& stream = streamOf(which);
  if (stream.console) return writeConsole(stream, bytes, encoding, err);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(stream.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) ||
        written == 0) {
      SetError(err, static_cast<int>(GetLastError()), "WriteFile",
               which == StandardStream::kOutput ? "stdout" : "stderr");
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

void ShowConsoleTextAs(TextEncoding encoding) {
  attach(StandardStream::kOutput, std::cout, encoding);
  attach(StandardStream::kError, std::cerr, encoding);
}

}  // namespace platform
