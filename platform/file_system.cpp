// What every system shares of the file operations in file_system.h: writing whole,
// appending whole, syncing then closing. The system calls are in file_system-posix.cpp and
// file_system-win32.cpp (system_calls.h).
#include "platform/file_system.h"

#include "platform/system_calls.h"

namespace platform {

bool writeAll(Handle::Native file, std::string_view data, std::string_view subject, Error* err) {
  while (!data.empty()) {
    std::size_t written = 0;
    if (!sys::writeSome(file, data, &written, subject, err)) return false;
    data.remove_prefix(written);
  }
  return true;
}

bool appendAll(File& file, std::string_view data, Error* err) {
  std::uint64_t start = 0;
  if (!sys::seekEnd(file.handle.get(), &start, file.path, err)) return false;
  if (writeAll(file.handle.get(), data, file.path, err)) return true;
  // Leave no partial line behind: cut the file back to where this write began.
  sys::truncate(file.handle.get(), start, file.path, nullptr);
  return false;
}

bool syncAndClose(File& file, Error* err) {
  const bool synced = sys::sync(file.handle.get(), file.path, err);
  const bool closed = sys::close(file.handle, file.path, synced ? err : nullptr);
  return synced && closed;
}

bool seekFileEnd(File& file, std::uint64_t* end, Error* err) {
  return sys::seekEnd(file.handle.get(), end, file.path, err);
}

bool writeFile(File& file, std::string_view data, Error* err) {
  return writeAll(file.handle.get(), data, file.path, err);
}

bool truncateFile(File& file, std::uint64_t size, Error* err) {
  return sys::truncate(file.handle.get(), size, file.path, err);
}

bool syncFile(File& file, Error* err) { return sys::sync(file.handle.get(), file.path, err); }

bool closeFile(File& file, Error* err) {
  return !file.handle || sys::close(file.handle, file.path, err);
}

}  // namespace platform
