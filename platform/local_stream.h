// A stream connection to a program on this computer that listens under a name: a Unix
// domain socket on POSIX (local_stream-posix.cpp), a named pipe on Windows
// (local_stream-win32.cpp). Every call waits at most the time it is given, so that a
// program that listens but never answers cannot hold the caller. The loops over partial
// reads and writes are shared (local_stream.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/handle.h"

namespace platform {

// The path under which a program of this user listens as `name`: on POSIX in
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp (a variable that holds no absolute path is
// passed over); on Windows the named pipe \\?\pipe\<name>.
std::string localStreamPath(std::string_view name);

// This process's id, which a local service may be told (to tie what it shows to the
// program that asked for it).
unsigned long processId();

class LocalStream {
 public:
  LocalStream() = default;

  // Connects to the socket or pipe at `path`; an error naming the path when nothing
  // listens there or it does not take the connection within `timeoutMs`.
  static Expected<LocalStream> connect(const std::string& path, int timeoutMs);

  bool isOpen() const { return static_cast<bool>(handle_); }
  const std::string& path() const { return path_; }

  // Writes all of `bytes` within `timeoutMs`.
  Status write(std::string_view bytes, int timeoutMs);
  // Reads exactly `size` bytes within `timeoutMs` in all; an error when the other end
  // closed the connection or the time ran out first.
  Expected<std::string> readExactly(std::size_t size, int timeoutMs);
  // Whether something waits to be read (bytes, or the end of the connection, which the
  // next read reports), waiting up to `timeoutMs` for it.
  bool readable(int timeoutMs);
  void close() { handle_.reset(); }

 private:
  // One read or write of at most `size` bytes within `timeoutMs`: the count done, 0 when
  // the time ran out; an error when the connection ended or failed. One implementation
  // per system.
  Expected<std::size_t> readSome(char* buffer, std::size_t size, int timeoutMs);
  Expected<std::size_t> writeSome(const char* bytes, std::size_t size, int timeoutMs);

  Handle handle_;
  std::string path_;
};

}  // namespace platform
