// What every system shares of the file operations in file_system.h: writing whole,
// appending whole, syncing then closing. The system calls are in file_system-posix.cpp and
// file_system-win32.cpp (system_calls.h).
#include "platform/file_system.h"

#include <utility>

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

namespace {

// The Status of system calls that filled err should one fail.
Status statusOf(bool ok, Error& err) { return ok ? Status() : Status(std::move(err)); }

}  // namespace

Status appendAll(File& file, std::string_view data) {
  Error err;
  std::uint64_t start = 0;
  if (!sys::seekEnd(file.handle.get(), &start, file.path, &err)) return err;
  if (writeAll(file.handle.get(), data, file.path, &err)) return {};
  // Leave no partial line behind: cut the file back to where this write began.
  sys::truncate(file.handle.get(), start, file.path, nullptr);
  return err;
}

Status syncAndClose(File& file) {
  Error err;
  const bool synced = sys::sync(file.handle.get(), file.path, &err);
  const bool closed = sys::close(file.handle, file.path, synced ? &err : nullptr);
  return statusOf(synced && closed, err);
}

Expected<std::uint64_t> seekFileEnd(File& file) {
  Error err;
  std::uint64_t end = 0;
  if (!sys::seekEnd(file.handle.get(), &end, file.path, &err)) return err;
  return end;
}

Status writeFile(File& file, std::string_view data) {
  Error err;
  return statusOf(writeAll(file.handle.get(), data, file.path, &err), err);
}

Status truncateFile(File& file, std::uint64_t size) {
  Error err;
  return statusOf(sys::truncate(file.handle.get(), size, file.path, &err), err);
}

Status syncFile(File& file) {
  Error err;
  return statusOf(sys::sync(file.handle.get(), file.path, &err), err);
}

Status closeFile(File& file) {
  Error err;
  return statusOf(!file.handle || sys::close(file.handle, file.path, &err), err);
}

}  // namespace platform
