#include "platform/file_identity.h"

#include <filesystem>
#include <system_error>

namespace platform {

namespace {

std::filesystem::path place(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(followLinks(path), ec);
  return ec ? std::filesystem::path(path) : absolute.lexically_normal();
}

}  // namespace

bool sameFilePath(const std::string& a, const std::string& b) {
  FileStatus first;
  FileStatus second;
  if (statPath(a, &first, nullptr) == StatResult::kFound &&
      statPath(b, &second, nullptr) == StatResult::kFound) {
    return sameFile(first, second);
  }
  return place(a) == place(b);
}

}  // namespace platform
