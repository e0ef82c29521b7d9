#include "platform/error.h"

namespace platform {

void setError(Error* err, int code, std::string_view call, std::string_view subject) {
  if (err != nullptr) *err = systemError(code, call, subject);
}

Error systemError(int code, std::string_view call, std::string_view subject) {
  return Error{code, std::string(subject.empty() ? call : subject), systemMessage(code)};
}

}  // namespace platform
