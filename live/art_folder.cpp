#include "live/art_folder.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <tuple>

#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/user_folders.h"
#include "platform/web_client.h"

namespace {

// What a file holds for a track the services know no art for.
constexpr std::string_view kNoArt = "no art\n";
constexpr std::string_view kSuffix = ".art";
constexpr std::size_t kDigestDigits = 64;
constexpr std::string_view kHexDigits = "0123456789abcdef";

std::filesystem::path fileSystemPath(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A name artFileName gives: other files of the folder (a write's temporary file, anything
// the user put there) are left alone.
bool isArtFileName(std::string_view name) {
  return name.size() == kDigestDigits + kSuffix.size() && name.ends_with(kSuffix) &&
         name.substr(0, kDigestDigits).find_first_not_of(kHexDigits) == std::string_view::npos;
}

// Marks the file as used now, so that the size limit removes it last.
void touch(const std::string& path) {
  std::error_code ignored;
  std::filesystem::last_write_time(fileSystemPath(path),
                                   std::filesystem::file_time_type::clock::now(), ignored);
}

}  // namespace

std::vector<std::string> filesToEvict(std::vector<KeptArtFile> files, std::uint64_t limit) {
  std::uint64_t total = 0;
  for (const KeptArtFile& file : files) total += file.size;
  std::sort(files.begin(), files.end(), [](const KeptArtFile& a, const KeptArtFile& b) {
    return std::tie(a.time, a.name) < std::tie(b.time, b.name);
  });
  std::vector<std::string> evicted;
  for (const KeptArtFile& file : files) {
    if (total <= limit) break;
    total -= file.size;
    evicted.push_back(file.name);
  }
  return evicted;
}

std::string artFileName(std::string_view key) {
  std::string name;
  for (const char c : platform::sha256(key)) {
    const unsigned byte = static_cast<unsigned char>(c);
    name += kHexDigits[byte >> 4U];
    name += kHexDigits[byte & 0xFU];
  }
  return name.append(kSuffix);
}

platform::Expected<std::string> defaultArtFolder() {
  const platform::Expected<std::string> cache = platform::userCacheFolder("Zorvanthelix");
  if (!cache) return cache;
  return utf8Of(fileSystemPath(*cache) / "art");
}

std::optional<ArtResult> ArtFolder::find(std::string_view key) {
  const std::string path = pathOf(artFileName(key));
  platform::Expected<std::string> bytes = platform::readWholeFile(path);
  if (!bytes) return std::nullopt;
  if (*bytes == kNoArt) {
    touch(path);
    return ArtResult{};
  }
  std::optional<ArtImage> image =
      bytes->size() <= kMaxArtBytes ? imageOf(std::move(*bytes)) : std::nullopt;
  if (!image) {
    static_cast<void>(platform::removeFile(path));
    return std::nullopt;
  }
  touch(path);
  return ArtResult{
      ArtResult::Kind::kFound, std::make_shared<const ArtImage>(std::move(*image)), {}};
}

platform::Status ArtFolder::keep(std::string_view key, const ArtResult& result) {
  const std::string path = pathOf(artFileName(key));
  if (platform::Status made = platform::createParentFolders(path); !made) return made;
  // What a killed run's write of this file left beside it.
  platform::removeLeftoverTemporaries(path);
  const std::string_view bytes = result.image ? std::string_view(result.image->bytes) : kNoArt;
  if (platform::Status written = platform::replaceFileContents(path, bytes); !written) {
    return written;
  }
  evict();
  return {};
}

std::string ArtFolder::pathOf(std::string_view name) const {
  return utf8Of(fileSystemPath(folder_) / fileSystemPath(name));
}

void ArtFolder::evict() {
  std::vector<KeptArtFile> files;
  std::error_code failed;
  for (std::filesystem::directory_iterator it(fileSystemPath(folder_), failed), end;
       !failed && it != end; it.increment(failed)) {
    const std::string name = utf8Of(it->path().filename());
    std::error_code sized;
    std::error_code timed;
    const std::uintmax_t size = it->file_size(sized);
    const std::filesystem::file_time_type time = it->last_write_time(timed);
    if (!isArtFileName(name) || sized || timed) continue;
    files.push_back({name, size, static_cast<std::int64_t>(time.time_since_epoch().count())});
  }
  for (const std::string& name : filesToEvict(std::move(files), limit_)) {
    static_cast<void>(platform::removeFile(pathOf(name)));
  }
}
