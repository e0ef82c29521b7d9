#include "platform/error.h"

namespace platform {

void setError(Error* err, int code, std::string_view call, std::string_view subject) {
  if (err == nullptr) return;
  err->code = code;
  err->text.assign(call);
  if (!subject.empty()) err->text.append("(").append(subject).append(")");
  err->text.append(": ").append(systemMessage(code));
}

}  // namespace platform
