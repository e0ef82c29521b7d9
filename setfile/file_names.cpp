#include "setfile/file_names.h"

#include <string_view>

#include "setfile/text.h"

namespace {

constexpr std::string_view kPlaylistExtension = ".txt";
constexpr std::string_view kSetLogExtension = ".jsonl";

}  // namespace

std::string playlistFileName(const std::tm& time) {
  std::string name = "Playlist_";
  appendNumber(time.tm_year + 1900, 0, &name);
  const int parts[] = {time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec};
  const char separators[] = "..___";
  for (int i = 0; i < 5; ++i) {
    name.push_back(separators[i]);
    appendNumber(parts[i], 2, &name);
  }
  name.append(kPlaylistExtension);
  return name;
}

std::string setLogFileName(const std::string& playlist) {
  if (!playlist.ends_with(kPlaylistExtension)) return {};
  std::string name = playlist.substr(0, playlist.size() - kPlaylistExtension.size());
  name.append(kSetLogExtension);
  return name;
}

std::string pendingFileName(const std::string& playlist, int attempt) {
  const std::size_t dot = playlist.rfind('.');
  const bool extended = dot != std::string::npos && playlist.find('/', dot) == std::string::npos &&
                        playlist.find('\\', dot) == std::string::npos;
  const std::string extension = extended ? playlist.substr(dot) : std::string(kPlaylistExtension);
  std::string name = playlist.substr(0, extended ? dot : playlist.size());
  name += ".pending";
  if (attempt > 1) {
    name += '-';
    name += std::to_string(attempt);
  }
  return name + extension;
}
