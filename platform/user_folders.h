// Where the current user's settings and caches live, from the environment. One
// implementation per system (user_folders-posix.cpp, user_folders-win32.cpp).
#pragma once

#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

// The path of a settings file of the application in the user's configuration folder,
// UTF-8: %APPDATA%\<Application>\<file> on Windows; $XDG_CONFIG_HOME/<application>/<file>,
// else $HOME/.config/<application>/<file>, elsewhere (the name in lower case). An error
// when the environment names no such folder.
Expected<std::string> userConfigFile(std::string_view application, std::string_view file);

// The application's folder in the user's cache folder, UTF-8, which may not exist yet:
// %LOCALAPPDATA%\<Application> on Windows; $XDG_CACHE_HOME/<application>, else
// $HOME/.cache/<application>, elsewhere (the name in lower case). An error when the
// environment names no such folder.
Expected<std::string> userCacheFolder(std::string_view application);

}  // namespace platform
