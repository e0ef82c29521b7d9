// A new version of a file written beside it and renamed over it, and files read in parts:
// what every system shares of them. The system calls are in file_system-posix.cpp and
// file_system-win32.cpp.
#include "platform/output_file.h"

#include <filesystem>
#include <utility>

#include "platform/console.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/system_calls.h"

namespace platform {

OutputFile::~OutputFile() { discard(); }

Status OutputFile::open(const std::string& path, FileAccess access) {
  discard();
  path_ = path;
  FileStatus status;
  const bool exists = statPath(path, &status, nullptr) == StatResult::kFound;
  if (exists && !status.regular) {
    Expected<Handle> opened = sys::openForWriting(path);
    if (!opened) return opened.error();
    file_.handle = std::move(*opened);
    file_.path = path;
    direct_ = true;
    return {};
  }
  if (exists && status.readOnly) return makeError(path, "the file is read-only");
  // The read, write and execute bits only: a set-user-ID bit is not handed to new contents.
  permissions_ = exists ? status.permissions & 0777 : 0;
  const bool ownerOnly = access == FileAccess::kOwnerOnly;
  if (ownerOnly) permissions_ = 0600;
  // A name no other writer uses: the process id and a count, created exclusively. Should
  // every attempt meet a taken name, the error tells of the last.
  static unsigned count = 0;
  constexpr int kAttempts = 100;
  Error created;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string temporary =
        path + "." + std::to_string(sys::processId()) + "." + std::to_string(count++) + ".tmp";
    switch (sys::createTemporary(temporary, ownerOnly, &file_.handle, &created)) {
      case CreateResult::kCreated:
        file_.path = std::move(temporary);
        return {};
      case CreateResult::kFailed:
        attempt = kAttempts;
        break;
      case CreateResult::kExists:
        break;
    }
  }
  return systemError(created.code, "open", path);
}

void OutputFile::openStandardOutput() {
  discard();
  standardOutput_ = true;
}

Status OutputFile::write(std::string_view data) {
  if (standardOutput_) return writeStandard(StandardStream::kOutput, data, TextEncoding::kUtf8);
  return writeAll(file_.handle.get(), data, path_);
}

Status OutputFile::commit() {
  if (standardOutput_) {
    standardOutput_ = false;
    return {};
  }
  if (direct_) {
    direct_ = false;
    file_.path.clear();
    return sys::close(file_.handle, path_);
  }
  Status done = sys::sync(file_.handle.get(), path_);
  const Status closed = sys::close(file_.handle, path_);
  if (done) done = closed;
  if (done && permissions_ != 0) {
    if (const Status set = setPermissions(file_.path, permissions_); !set) {
      done = systemError(set.error().code, "chmod", path_);
    }
  }
  if (done) {
    if (const Status replaced = sys::replace(file_.path, path_); !replaced) {
      done = systemError(replaced.error().code, "replace", path_);
    }
  }
  if (!done) static_cast<void>(removeFile(file_.path));
  file_.path.clear();
  return done;
}

void OutputFile::discard() {
  standardOutput_ = false;
  if (!file_.handle) return;
  file_.handle.reset();
  // A FIFO or a device written to directly is not ours to remove.
  if (!direct_) static_cast<void>(removeFile(file_.path));
  direct_ = false;
  file_.path.clear();
}

namespace {

std::filesystem::path pathOf(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// The process id in a temporary file's name "<name>.<pid>.<count>.tmp", or 0 for a name
// of another form.
unsigned long temporaryOwner(std::string_view name, std::string_view target) {
  if (!name.starts_with(target) || !name.ends_with(".tmp")) return 0;
  name = name.substr(target.size(), name.size() - target.size() - 4);
  const std::size_t dot = name.find('.', 1);
  if (!name.starts_with('.') || dot == std::string_view::npos || dot == 1 || dot + 1 == name.size())
    return 0;
  unsigned long id = 0;
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (i == dot) continue;
    if (name[i] < '0' || name[i] > '9') return 0;
    if (i < dot && id < 1'000'000'000) id = id * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return id;
}

}  // namespace

void removeLeftoverTemporaries(const std::string& path) {
  const std::filesystem::path file = pathOf(path);
  const std::u8string target = file.filename().u8string();
  const std::string name(target.begin(), target.end());
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code failed;
  for (std::filesystem::directory_iterator it(folder, failed), end; !failed && it != end;
       it.increment(failed)) {
    const std::u8string entry = it->path().filename().u8string();
    const unsigned long owner = temporaryOwner(std::string(entry.begin(), entry.end()), name);
    if (owner == 0 || sys::processRunning(owner)) continue;
    const std::u8string leftover = it->path().u8string();
    (void)removeFile(std::string(leftover.begin(), leftover.end()));
  }
}

Status InputFile::open(const std::string& path) {
  Expected<Handle> opened = sys::openForReading(path);
  if (!opened) return opened.error();
  file_.handle = std::move(*opened);
  file_.path = path;
  return {};
}

Expected<std::size_t> InputFile::read(char* data, std::size_t size) {
  return sys::readSome(file_.handle.get(), data, size, file_.path);
}

Expected<std::string> readWholeFile(const std::string& path) {
  InputFile file;
  if (Status opened = file.open(path); !opened) return opened.error();
  std::string text;
  char buffer[65536];
  for (;;) {
    const Expected<std::size_t> count = file.read(buffer, sizeof buffer);
    if (!count) return count.error();
    if (*count == 0) return text;
    text.append(buffer, *count);
  }
}

}  // namespace platform
