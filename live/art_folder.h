// Cover art kept on disk across runs, under the memory cache of artwork_lookup.h: one file
// per track key, the image as the archive sent it or a small marker for "no art", so that
// a set that replays an album asks once, also in the next run. Each file is written whole
// and renamed (a killed write never leaves half an image); a file that is no image when it
// is read is removed. The folder is kept to a size by removing the least recently used
// files first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "online/artwork.h"
#include "platform/error.h"

// The most the folder's art files take together.
constexpr std::uint64_t kArtFolderBytes = 50 * 1024 * 1024;

// One file of the folder, as the size limit sees it.
struct KeptArtFile {
  std::string name;
  std::uint64_t size = 0;
  std::int64_t time = 0;  // its last write or use, in a unit that grows with time
};

// The names of the files to remove so that the rest take at most `limit` bytes: the
// oldest first, the name settling a tie.
std::vector<std::string> filesToEvict(std::vector<KeptArtFile> files, std::uint64_t limit);

// The file name that keeps a key's art: the 64 hex digits of the key's SHA-256 digest and
// ".art", so that no key can name another path.
std::string artFileName(std::string_view key);

// The art folder in the user's cache folder (which may not exist yet).
platform::Expected<std::string> defaultArtFolder();

// One thread uses it.
class ArtFolder {
 public:
  explicit ArtFolder(std::string folder, std::uint64_t limit = kArtFolderBytes)
      : folder_(std::move(folder)), limit_(limit) {}

  // What the folder keeps for the key: kFound with the image or kNone, and the file counts
  // as used now; nothing when it keeps nothing (a file that is no image is removed).
  std::optional<ArtResult> find(std::string_view key);
  // Keeps a kFound or kNone result for the key (creating the folder when it is missing),
  // then removes the least recently used files beyond the limit.
  platform::Status keep(std::string_view key, const ArtResult& result);

 private:
  std::string pathOf(std::string_view name) const;
  void evict();

  std::string folder_;
  std::uint64_t limit_;
};
