// Windows implementation of the user's folders: the roaming and the local application
// data folders, read through the wide environment so that any user name survives.
#include <windows.h>

#include <string>

#include "platform/user_folders.h"
#include "platform/win32.h"

namespace platform {

namespace {

// The folder the environment variable names, UTF-8; `what` says which in the error.
Expected<std::string> environmentFolder(const wchar_t* variable, const char* name,
                                        const char* what) {
  std::wstring value(MAX_PATH, L'\0');
  DWORD length = GetEnvironmentVariableW(variable, value.data(), MAX_PATH);
  if (length >= MAX_PATH) {
    value.resize(length);
    length = GetEnvironmentVariableW(variable, value.data(), length);
  }
  if (length == 0 || length >= value.size()) {
    return makeError(name, std::string("the environment names no ") + what);
  }
  value.resize(length);
  return narrow(value);
}

}  // namespace

Expected<std::string> userConfigFile(std::string_view application, std::string_view file) {
  Expected<std::string> folder =
      environmentFolder(L"APPDATA", "APPDATA", "application data folder");
  if (!folder) return folder;
  return folder->append("\\").append(application).append("\\").append(file);
}

Expected<std::string> userCacheFolder(std::string_view application) {
  Expected<std::string> folder =
      environmentFolder(L"LOCALAPPDATA", "LOCALAPPDATA", "local application data folder");
  if (!folder) return folder;
  return folder->append("\\").append(application);
}

}  // namespace platform
