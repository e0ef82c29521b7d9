// Records on their way into the playlist file. While another program holds the file (a
// spreadsheet showing it, say), records wait here in the order they were decided and are
// written, oldest first, as soon as the file opens again. None is dropped or written twice.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <ostream>
#include <string>

#include "tracker/playlist.h"

// How the lines of a log file look: the header a new file starts with, and the end of
// every line.
struct LogForm {
  std::string_view header;
  std::string_view lineEnd;
};
constexpr LogForm kPlaylistForm{kPlaylistHeader, kRecordLineEnd};

class RecordQueue {
 public:
  // Console lines about waiting records go to console.
  RecordQueue(PlaylistFiles& files, std::string playlist, std::ostream& console,
              LogForm form = kPlaylistForm);

  // Writes the waiting records, then this one (a record without its line end). kOk also
  // when the file is in use and the records wait; otherwise the failure of a write, with
  // the record that failed and all after it still waiting.
  FileResult write(std::string record);

  // Writes the waiting records, oldest first, until none is left or the file is in use.
  FileResult retry();

  // For the end of a run: retries up to attempts times, calling pause between attempts.
  // Records still kept out by another program then go, with the header, into a new file
  // beside the playlist (see pendingFileName), which the console names. A failure of the
  // playlist or of that file is returned and leaves the records waiting.
  FileResult settle(int attempts, const std::function<void()>& pause);

  std::size_t size() const { return waiting_.size(); }

  // Whether records are waiting because another program holds the file.
  bool inUse() const { return inUse_; }

  // Prints the waiting records as the playlist would hold them, so they can be copied.
  void printWaiting() const;

 private:
  PlaylistFiles& files_;
  std::string playlist_;
  std::ostream& console_;
  LogForm form_;
  std::deque<std::string> waiting_;
  bool inUse_ = false;    // records wait because another program holds the file
  std::size_t held_ = 0;  // records written late in the current wait
};
