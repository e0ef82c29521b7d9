#include "tracker/pending.h"

#include <string>
#include <string_view>
#include <utility>

RecordQueue::RecordQueue(PlaylistFiles& files, std::string playlist, std::ostream& console,
                         LogForm form)
    : files_(files), playlist_(std::move(playlist)), console_(console), form_(form) {}

FileResult RecordQueue::write(std::string record) {
  waiting_.push_back(std::move(record));
  return retry();
}

FileResult RecordQueue::retry() {
  while (!waiting_.empty()) {
    const FileResult result = files_.append(playlist_, waiting_.front(), form_.lineEnd);
    if (result == FileResult::kInUse) {
      if (!inUse_) {
        console_ << playlist_
                 << " is in use by another program; records will wait and be written when it"
                    " is free.\n"
                 << std::flush;
      }
      inUse_ = true;
      return FileResult::kOk;
    }
    if (result != FileResult::kOk) return result;
    waiting_.pop_front();
    if (inUse_) ++held_;
  }
  if (inUse_) {
    console_ << held_ << (held_ == 1 ? " waiting record" : " waiting records") << " written to "
             << playlist_ << ".\n"
             << std::flush;
    inUse_ = false;
    held_ = 0;
  }
  return FileResult::kOk;
}

FileResult RecordQueue::settle(int attempts, const std::function<void()>& pause) {
  for (int attempt = 1; attempt <= attempts && !waiting_.empty(); ++attempt) {
    if (attempt > 1) pause();
    const FileResult result = retry();
    if (result != FileResult::kOk) return result;
  }
  if (waiting_.empty()) return FileResult::kOk;

  std::string text(form_.header);
  for (const std::string& record : waiting_) text.append(record).append(form_.lineEnd);
  // Never overwrite: an earlier run may have left a file of the first name.
  constexpr int kNames = 100;
  for (int attempt = 1; attempt <= kNames; ++attempt) {
    const std::string name = pendingFileName(playlist_, attempt);
    const FileResult result = files_.createNew(name, text);
    if (result == FileResult::kExists) continue;
    if (result == FileResult::kOk) {
      console_ << playlist_ << " is still in use by another program; " << waiting_.size()
               << (waiting_.size() == 1 ? " waiting record" : " waiting records") << " saved in "
               << name << "\n"
               << std::flush;
      waiting_.clear();
      inUse_ = false;
      held_ = 0;
    }
    return result;
  }
  return FileResult::kOpenFailed;
}

void RecordQueue::printWaiting() const {
  console_ << waiting_.size() << (waiting_.size() == 1 ? " record" : " records")
           << " could not be written to " << playlist_ << "; here in the playlist's form:\n";
  for (const std::string& record : waiting_) console_ << record << "\n";
  console_ << std::flush;
}
