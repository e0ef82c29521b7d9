// POSIX implementation of the user's folders: the XDG base directory rules.
#include <cstdlib>
#include <string>

#include "platform/ascii.h"
#include "platform/user_folders.h"

namespace platform {

namespace {

// The variable's value when it is set to an absolute path (the XDG rules ignore others).
std::string absolutePath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

}  // namespace

Expected<std::string> userConfigFile(std::string_view application, std::string_view file) {
  std::string folder = absolutePath("XDG_CONFIG_HOME");
  if (folder.empty()) {
    folder = absolutePath("HOME");
    if (folder.empty()) return makeError("HOME", "neither XDG_CONFIG_HOME nor HOME names a folder");
    folder += "/.config";
  }
  folder += '/';
  folder += asciiLower(application);
  return folder.append("/").append(file);
}

}  // namespace platform
