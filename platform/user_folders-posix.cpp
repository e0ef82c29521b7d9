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

// The application's folder under the XDG variable's folder, else under $HOME/<fallback>.
Expected<std::string> applicationFolder(const char* variable, const char* fallback,
                                        std::string_view application) {
  std::string folder = absolutePath(variable);
  if (folder.empty()) {
    folder = absolutePath("HOME");
    if (folder.empty()) {
      return makeError("HOME", std::string("neither ") + variable + " nor HOME names a folder");
    }
    folder += fallback;
  }
  folder += '/';
  return folder.append(asciiLower(application));
}

}  // namespace

Expected<std::string> userConfigFile(std::string_view application, std::string_view file) {
  Expected<std::string> folder = applicationFolder("XDG_CONFIG_HOME", "/.config", application);
  if (!folder) return folder;
  return folder->append("/").append(file);
}

Expected<std::string> userCacheFolder(std::string_view application) {
  return applicationFolder("XDG_CACHE_HOME", "/.cache", application);
}

}  // namespace platform
