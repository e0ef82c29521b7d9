#include "platform/error.h"

namespace platform {

void setError(Error* err, int code, std::string_view call, std::string_view subject) {
  if (err == nullptr) return;
  err->code = code;
  err->subject.assign(subject.empty() ? call : subject);
  err->text = systemMessage(code);
}

}  // namespace platform
