#include "tracker/set_log_file.h"

#include <string_view>
#include <utility>

SetLogFile::SetLogFile(FileCalls& calls, std::string path, std::ostream& messages)
    : calls_(calls), queue_(calls, std::move(path), messages, messages, kSetLogForm) {}

void SetLogFile::create() {
  // A file left by an earlier run under this name is kept: this run's lines follow it.
  const auto created = createWithText(calls_, path(), "");
  if (!created) queue_.failed(created.error());
}
