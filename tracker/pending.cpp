#include "tracker/pending.h"

#include <utility>

RecordQueue::RecordQueue(FileCalls& calls, std::string path, std::ostream& console,
                         std::ostream& messages, LogForm form)
    : calls_(calls), path_(std::move(path)), console_(console), messages_(messages), form_(form) {}

void RecordQueue::write(std::string record) {
  waiting_.push_back(std::move(record));
  retry();
}

void RecordQueue::retry() {
  while (!waiting_.empty()) {
    std::string text = waiting_.front();
    text.append(form_.lineEnd);
    const auto appended = appendText(calls_, path_, text, &unfinished_);
    if (!appended) return enter(State::kFailing, &appended.error());
    if (*appended == Appended::kInUse) return enter(State::kInUse, nullptr);
    waiting_.pop_front();
    if (state_ != State::kWriting) ++held_;
  }
  enter(State::kWriting, nullptr);
}

void RecordQueue::failed(const platform::Error& err) { enter(State::kFailing, &err); }

// Tells of a change of state: once when records begin to wait, once when they are written.
void RecordQueue::enter(State state, const platform::Error* err) {
  if (state == state_) return;
  if (state == State::kInUse) {
    console_ << path_ << " is in use by another program; " << form_.item
             << "s will wait and be written when it is free.\n"
             << std::flush;
  } else if (state == State::kFailing) {
    messages_ << failureLine(path_, *err) << "; " << form_.item
              << "s will wait and be written when it can be written again.\n"
              << std::flush;
  } else if (state_ == State::kInUse) {
    console_ << items(held_) << " written to " << path_ << ".\n" << std::flush;
  } else {
    messages_ << path_ << " can be written again; " << items(held_) << " written.\n" << std::flush;
  }
  if (state == State::kWriting) held_ = 0;
  state_ = state;
}

std::string RecordQueue::items(std::size_t count) const {
  return std::to_string(count) + " waiting " + std::string(form_.item) + (count == 1 ? "" : "s");
}

void RecordQueue::settle(int attempts, const std::function<void()>& pause) {
  for (int attempt = 1; attempt <= attempts && !waiting_.empty(); ++attempt) {
    if (attempt > 1) pause();
    retry();
  }
  if (!waiting_.empty()) save();
}

// Puts the records that still wait into a new file beside, never over an existing one
// (an earlier run may have left a file of the first name), or else onto messages.
void RecordQueue::save() {
  std::string text(form_.header);
  for (const std::string& record : waiting_) text.append(record).append(form_.lineEnd);
  constexpr int kNames = 100;
  std::string name;
  platform::Error err = platform::makeError("", "every name is taken");
  for (int attempt = 1; attempt <= kNames; ++attempt) {
    name = pendingFileName(path_, attempt);
    const auto created = createWithText(calls_, name, text);
    if (!created) {
      err = created.error();
      break;
    }
    if (!*created) continue;
    std::ostream& out = state_ == State::kInUse ? console_ : messages_;
    out << path_
        << (state_ == State::kInUse ? " is still in use by another program; "
                                    : " still cannot be written; ")
        << items(waiting_.size()) << " saved in " << name << "\n"
        << std::flush;
    waiting_.clear();
    state_ = State::kWriting;
    held_ = 0;
    return;
  }
  messages_ << failureLine(name, err) << "\n"
            << waiting_.size() << " " << form_.item << (waiting_.size() == 1 ? "" : "s")
            << " could not be written to " << path_ << "; here as they would stand in it:\n";
  for (const std::string& record : waiting_) messages_ << record << "\n";
  messages_ << std::flush;
}
