// Windows implementation of the user's folders: the roaming application data folder, read
// through the wide environment so that any user name survives.
#include <windows.h>

#include <string>

#include "platform/user_folders.h"
#include "platform/win32.h"

namespace platform {

Expected<std::string> userConfigFile(std::string_view application, std::string_view file) {
  std::wstring value(MAX_PATH, L'\0');
  DWORD length = GetEnvironmentVariableW(L"APPDATA", value.data(), MAX_PATH);
  if (length >= MAX_PATH) {
    value.resize(length);
    length = GetEnvironmentVariableW(L"APPDATA", value.data(), length);
  }
  if (length == 0 || length >= value.size()) {
    return makeError("APPDATA", "the environment names no application data folder");
  }
  value.resize(length);
  return narrow(value).append("\\").append(application).append("\\").append(file);
}

}  // namespace platform
