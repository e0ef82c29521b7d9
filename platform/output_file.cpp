// A new version of a file written beside it and renamed over it, and files read in parts:
// what every system shares of them. The system calls are in file_system-posix.cpp and
// file_system-win32.cpp.
#include "platform/output_file.h"

#include <utility>

#include "platform/console.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/system_calls.h"

namespace platform {

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& path, Error* err, FileAccess access) {
  discard();
  path_ = path;
  FileStatus status;
  const bool exists = statPath(path, &status, nullptr) == StatResult::kFound;
  if (exists && !status.regular) {
    if (!sys::openForWriting(path, &file_.handle, err)) return false;
    file_.path = path;
    direct_ = true;
    return true;
  }
  if (exists && status.readOnly) {
    if (err != nullptr) *err = makeError(path, "the file is read-only");
    return false;
  }
  // The read, write and execute bits only: a set-user-ID bit is not handed to new contents.
  permissions_ = exists ? status.permissions & 0777 : 0;
  const bool ownerOnly = access == FileAccess::kOwnerOnly;
  if (ownerOnly) permissions_ = 0600;
  // A name no other writer uses: the process id and a count, created exclusively. Should
  // every attempt meet a taken name, *err tells of the last.
  static unsigned count = 0;
  constexpr int kAttempts = 100;
  Error created;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string temporary =
        path + "." + std::to_string(sys::processId()) + "." + std::to_string(count++) + ".tmp";
    switch (sys::createTemporary(temporary, ownerOnly, &file_.handle, &created)) {
      case CreateResult::kCreated:
        file_.path = std::move(temporary);
        return true;
      case CreateResult::kFailed:
        attempt = kAttempts;
        break;
      case CreateResult::kExists:
        break;
    }
  }
  setError(err, created.code, "open", path);
  return false;
}

void OutputFile::openStandardOutput() {
  discard();
  standardOutput_ = true;
}

bool OutputFile::write(std::string_view data, Error* err) {
  if (standardOutput_)
    return writeStandard(StandardStream::kOutput, data, TextEncoding::kUtf8, err);
  return writeAll(file_.handle.get(), data, path_, err);
}

bool OutputFile::commit(Error* err) {
  if (standardOutput_) {
    standardOutput_ = false;
    return true;
  }
  if (direct_) {
    direct_ = false;
    file_.path.clear();
    return sys::close(file_.handle, path_, err);
  }
  bool ok = sys::sync(file_.handle.get(), path_, err);
  ok = sys::close(file_.handle, path_, ok ? err : nullptr) && ok;
  Error failed;
  if (ok && permissions_ != 0 && !setPermissions(file_.path, permissions_, &failed)) {
    setError(err, failed.code, "chmod", path_);
    ok = false;
  }
  if (ok && !sys::replace(file_.path, path_, &failed)) {
    setError(err, failed.code, "replace", path_);
    ok = false;
  }
  if (!ok) removeFile(file_.path, nullptr);
  file_.path.clear();
  return ok;
}

void OutputFile::discard() {
  standardOutput_ = false;
  if (!file_.handle) return;
  file_.handle.reset();
  // A FIFO or a device written to directly is not ours to remove.
  if (!direct_) removeFile(file_.path, nullptr);
  direct_ = false;
  file_.path.clear();
}

bool InputFile::open(const std::string& path, Error* err) {
  Handle handle;
  if (!sys::openForReading(path, &handle, err)) return false;
  file_.handle = std::move(handle);
  file_.path = path;
  return true;
}

std::ptrdiff_t InputFile::read(char* data, std::size_t size, Error* err) {
  return sys::readSome(file_.handle.get(), data, size, file_.path, err);
}

Expected<std::string> readWholeFile(const std::string& path) {
  InputFile file;
  Error err;
  if (!file.open(path, &err)) return err;
  std::string text;
  char buffer[65536];
  std::ptrdiff_t count = 0;
  while ((count = file.read(buffer, sizeof buffer, &err)) > 0) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  if (count < 0) return err;
  return text;
}

}  // namespace platform
