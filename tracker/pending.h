// Records on their way into a log file (the playlist, the set log). A record that cannot
// be written, for whatever reason (another program holds the file, the disk is full, the
// drive is gone, the permissions changed), waits here in the order it was decided and is
// written, oldest first, at a later poll once the cause has gone. A record that stands
// whole in the file is never appended again (see appendText). None is dropped: what still
// waits at a stop goes into a file beside, or, should that fail too, onto standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "tracker/playlist.h"

// How the lines of a log file look: the header a new file starts with, the end of every
// line, and what a line is called in messages.
struct LogForm {
  std::string_view header;
  std::string_view lineEnd;
  std::string_view item;
};
constexpr LogForm kPlaylistForm{kPlaylistHeader, kRecordLineEnd, "record"};

class RecordQueue {
 public:
  // Lines about a file held by another program go to console, as the console shows them
  // today; every other failure, and the records that could not be saved at all, go to
  // messages (standard error).
  RecordQueue(FileCalls& calls, std::string path, std::ostream& console, std::ostream& messages,
              LogForm form = kPlaylistForm);

  // Writes the waiting records, then this one (a record without its line end).
  void write(std::string record);

  // Writes the waiting records, oldest first, until none is left or one fails.
  void retry();

  // Reports a failure that happened outside the queue (the file was not created): the
  // records wait from here on as after a failed write.
  void failed(const platform::Error& err);

  // For the end of a run: retries up to attempts times, calling pause between attempts.
  // Records still waiting then go, with the header, into a new file beside (see
  // pendingFileName); should that fail too, they are printed on messages.
  void settle(int attempts, const std::function<void()>& pause);

  std::size_t size() const { return waiting_.size(); }
  const std::string& path() const { return path_; }

 private:
  enum class State { kWriting, kInUse, kFailing };

  void enter(State state, const platform::Error* err);
  std::string items(std::size_t count) const;
  void save();

  FileCalls& calls_;
  std::string path_;
  std::ostream& console_;
  std::ostream& messages_;
  LogForm form_;
  std::deque<std::string> waiting_;
  State state_ = State::kWriting;
  std::size_t held_ = 0;                     // records written late in the current wait
  std::optional<std::uint64_t> unfinished_;  // see appendText
};
