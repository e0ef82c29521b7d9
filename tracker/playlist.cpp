#include "tracker/playlist.h"

#include <utility>

#include "platform/platform.h"

platform::Expected<FileCalls::Opened> DiskCalls::openForAppend(const std::string& path) {
  platform::Error err;
  switch (platform::openForAppend(path, &file_, &err)) {
    case platform::OpenResult::kOpened:
      return Opened::kOpened;
    case platform::OpenResult::kInUse:
      return Opened::kInUse;
    case platform::OpenResult::kFailed:
      break;
  }
  return err;
}

platform::Expected<FileCalls::Opened> DiskCalls::createNew(const std::string& path) {
  platform::Error err;
  switch (platform::createNewFile(path, &file_, &err)) {
    case platform::CreateResult::kCreated:
      return Opened::kOpened;
    case platform::CreateResult::kExists:
      return Opened::kExists;
    case platform::CreateResult::kFailed:
      break;
  }
  return err;
}

platform::Expected<std::uint64_t> DiskCalls::seekEnd() { return platform::seekFileEnd(file_); }

platform::Status DiskCalls::write(std::string_view data) {
  return platform::writeFile(file_, data);
}

platform::Status DiskCalls::truncate(std::uint64_t size) {
  return platform::truncateFile(file_, size);
}

platform::Status DiskCalls::sync() { return platform::syncFile(file_); }

platform::Status DiskCalls::close() { return platform::closeFile(file_); }

void DiskCalls::remove(const std::string& path) { static_cast<void>(platform::removeFile(path)); }

platform::Expected<Appended> appendText(FileCalls& calls, const std::string& path,
                                        std::string_view text,
                                        std::optional<std::uint64_t>* unfinished) {
  const auto opened = calls.openForAppend(path);
  if (!opened) return opened.error();
  if (*opened == FileCalls::Opened::kInUse) return Appended::kInUse;
  auto end = calls.seekEnd();
  if (end && unfinished->has_value() && *end > **unfinished) {
    // An earlier write that failed may stand in the file, in part or whole: cut it off.
    const platform::Status cut = calls.truncate(**unfinished);
    if (cut) {
      end = **unfinished;
    } else {
      end = cut.error();
    }
  }
  if (!end) {
    (void)calls.close();
    return end.error();
  }
  unfinished->reset();
  platform::Status written = calls.write(text);
  if (written) written = calls.sync();
  if (!written) {
    if (!calls.truncate(*end)) *unfinished = *end;
    (void)calls.close();
    return written.error();
  }
  // Whole and on stable storage: a failing close takes nothing away from it.
  (void)calls.close();
  return Appended::kWritten;
}

platform::Expected<bool> createWithText(FileCalls& calls, const std::string& path,
                                        std::string_view text) {
  const auto created = calls.createNew(path);
  if (!created) return created.error();
  if (*created == FileCalls::Opened::kExists) return false;
  platform::Status written = calls.write(text);
  if (written) written = calls.sync();
  (void)calls.close();
  if (written) return true;
  calls.remove(path);
  return written.error();
}

std::string failureLine(const std::string& path, const platform::Error& err) {
  return path + ": " + (err.code != 0 ? platform::systemMessage(err.code) : err.text);
}

platform::Expected<std::string> createPlaylist(FileCalls& calls) {
  // Names change every second, so a minute of taken names means something else is wrong.
  constexpr int kAttempts = 60;
  std::string name;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::time_t start = std::time(nullptr);
    name = playlistFileName(localTime(start));
    auto created = createWithText(calls, name, kPlaylistHeader);
    if (!created) {
      platform::Error err = created.error();
      err.subject = name;
      return err;
    }
    if (*created) return name;
    // Another run owns this name: wait for the next second's name.
    while (std::time(nullptr) == start) platform::sleepMilliseconds(50);
  }
  return platform::makeError(name, "every name of the last minute is taken");
}
