// The set log file beside the playlist: one line per playlist record, with every character
// of the deck texts (see setfile/set_log_line.h; its name: setLogFileName). Its lines reach
// the disk the way records do, in order, synced one by one and waiting while the file
// cannot be written (see RecordQueue); all messages about it go to standard error.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>

#include "tracker/pending.h"

constexpr LogForm kSetLogForm{"", "\n", "line"};

class SetLogFile {
 public:
  // Messages about the file go to messages (the tracker's standard error).
  SetLogFile(FileCalls& calls, std::string path, std::ostream& messages);

  // Creates the file, empty. An existing file is kept and appended to.
  void create();
  // Writes the lines that wait, then this one (without its line end).
  void write(std::string line) { queue_.write(std::move(line)); }
  // Writes the lines that wait.
  void retry() { queue_.retry(); }
  // For the end of a run, as RecordQueue::settle: "Playlist_X.pending.jsonl".
  void settle(int attempts, const std::function<void()>& pause) { queue_.settle(attempts, pause); }

  const std::string& path() const { return queue_.path(); }
  std::size_t waiting() const { return queue_.size(); }

 private:
  FileCalls& calls_;
  RecordQueue queue_;
};
