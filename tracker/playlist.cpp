#include "tracker/playlist.h"

#include "platform/file_system.h"
#include "platform/platform.h"

namespace {

// Appends text whole, brings it to stable storage and closes the file in every case.
FileResult writeAndClose(platform::File& file, std::string_view text, platform::Error* err) {
  const bool written = platform::appendAll(file, text, err);
  const bool closed = platform::syncAndClose(file, written ? err : nullptr);
  return written && closed ? FileResult::kOk : FileResult::kWriteFailed;
}

}  // namespace

std::string failureLine(const std::string& path, const platform::Error& err) {
  return path + ": " + (err.code != 0 ? platform::systemMessage(err.code) : err.text);
}

FileResult createPlaylist(std::string* name, platform::Error* err) {
  // Names change every second, so a minute of taken names means something else is wrong.
  constexpr int kAttempts = 60;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::time_t start = std::time(nullptr);
    *name = playlistFileName(localTime(start));
    const FileResult result = createWithText(*name, kPlaylistHeader, err);
    if (result != FileResult::kExists) return result;
    // Another run owns this name: wait for the next second's name.
    while (std::time(nullptr) == start) platform::sleepMilliseconds(50);
  }
  return FileResult::kOpenFailed;
}

FileResult createWithText(const std::string& path, std::string_view text, platform::Error* err) {
  platform::File file;
  switch (platform::createNewFile(path, &file, err)) {
    case platform::CreateResult::kExists:
      return FileResult::kExists;
    case platform::CreateResult::kFailed:
      return FileResult::kOpenFailed;
    case platform::CreateResult::kCreated:
      break;
  }
  return writeAndClose(file, text, err);
}

FileResult appendRecord(const std::string& path, std::string_view record, std::string_view lineEnd,
                        platform::Error* err) {
  platform::File file;
  switch (platform::openForAppend(path, &file, err)) {
    case platform::OpenResult::kInUse:
      return FileResult::kInUse;
    case platform::OpenResult::kFailed:
      return FileResult::kOpenFailed;
    case platform::OpenResult::kOpened:
      break;
  }
  return writeAndClose(file, std::string(record).append(lineEnd), err);
}
