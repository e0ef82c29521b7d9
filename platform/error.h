// How every platform call reports a failure.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Why a call failed: the system's error code (errno, GetLastError) and a text for a person
// of the form "shm_open(/Global\ssl_sharing): No such file or directory".
struct Error {
  int code = 0;
  std::string text;
};

// Fills *err, when given, from a system error code, the call that failed and what it
// was called on (left out when empty).
void SetError(Error* err, int code, std::string_view call, std::string_view subject);

// The system's text for an error code (strerror, FormatMessage), one implementation per
// system.
std::string SystemMessage(int code);

}  // namespace platform
