#include "tracker/set_log_file.h"

#include <string_view>
#include <utility>

SetLogFile::SetLogFile(PlaylistFiles& files, std::string path, std::ostream& messages)
    : files_(files),
      path_(std::move(path)),
      messages_(messages),
      queue_(files, path_, messages, kSetLogForm) {}

void SetLogFile::create() {
  const FileResult result = files_.createNew(path_, "");
  // A file left by an earlier run under this name is kept: this run's lines follow it.
  note(result == FileResult::kExists ? FileResult::kOk : result);
}

void SetLogFile::write(std::string line) { note(queue_.write(std::move(line))); }

void SetLogFile::retry() { note(queue_.retry()); }

void SetLogFile::settle(int attempts, const std::function<void()>& pause) {
  note(queue_.settle(attempts, pause));
}

void SetLogFile::note(FileResult result) {
  if (result == FileResult::kOk) {
    failing_ = false;
    return;
  }
  if (failing_) return;
  failing_ = true;
  const std::string failure = files_.failure();
  messages_ << (failure.empty() ? path_ + ": cannot be written" : failure) << "\n" << std::flush;
}
