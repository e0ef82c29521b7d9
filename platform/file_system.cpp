// What every system shares of the file operations in file_system.h: writing whole,
// appending whole, syncing then closing. The system calls are in file_system-posix.cpp and
// file_system-win32.cpp (system_calls.h).
#include "platform/file_system.h"

#include <utility>

#include "platform/system_calls.h"

namespace platform {

Status writeAll(Handle::Native file, std::string_view data, std::string_view subject) {
  while (!data.empty()) {
    const Expected<std::size_t> written = sys::writeSome(file, data, subject);
    if (!written) return written.error();
    data.remove_prefix(*written);
  }
  return {};
}

Status appendAll(File& file, std::string_view data) {
  const Expected<std::uint64_t> start = sys::seekEnd(file.handle.get(), file.path);
  if (!start) return start.error();
  Status written = writeAll(file.handle.get(), data, file.path);
  // Leave no partial line behind: cut the file back to where this write began.
  if (!written) static_cast<void>(sys::truncate(file.handle.get(), *start, file.path));
  return written;
}

Status syncAndClose(File& file) {
  Status synced = sys::sync(file.handle.get(), file.path);
  Status closed = sys::close(file.handle, file.path);
  return synced ? closed : synced;
}

Expected<std::uint64_t> seekFileEnd(File& file) {
  return sys::seekEnd(file.handle.get(), file.path);
}

Status writeFile(File& file, std::string_view data) {
  return writeAll(file.handle.get(), data, file.path);
}

Status truncateFile(File& file, std::uint64_t size) {
  return sys::truncate(file.handle.get(), size, file.path);
}

Status syncFile(File& file) { return sys::sync(file.handle.get(), file.path); }

Status closeFile(File& file) { return file.handle ? sys::close(file.handle, file.path) : Status(); }

}  // namespace platform
