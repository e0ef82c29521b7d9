// What every system shares of the standard streams: redirected output takes the bytes,
// a console (a terminal) takes what console-posix.cpp or console-win32.cpp makes of them.
#include "platform/console.h"

#include <iostream>
#include <streambuf>

#include "platform/system_calls.h"

namespace platform {

namespace {

// A stream buffer that hands what it collects to writeStandard on every flush.
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
    return writeStandard(stream_, bytes, encoding_) ? 0 : -1;
  }

 private:
  StandardStream stream_;
  TextEncoding encoding_;
  char buffer_[4096];
};

void attach(StandardStream which, std::ostream& out, TextEncoding encoding) {
  if (!sys::isConsole(which) || sys::consoleShowsAsIs(encoding)) return;
  out.flush();
  out.rdbuf(new ConsoleBuffer(which, encoding));  // lives as long as the process
}

}  // namespace

Status writeStandard(StandardStream stream, std::string_view bytes, TextEncoding encoding) {
  if (sys::isConsole(stream)) return sys::writeConsole(stream, bytes, encoding);
  return writeAll(sys::standardStream(stream), bytes,
                  stream == StandardStream::kOutput ? "stdout" : "stderr");
}

bool isTerminal(StandardStream stream) { return sys::isConsole(stream); }

void showConsoleTextAs(TextEncoding encoding) {
  attach(StandardStream::kOutput, std::cout, encoding);
  attach(StandardStream::kError, std::cerr, encoding);
}

}  // namespace platform
