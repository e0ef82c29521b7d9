// The set log file beside the playlist: one line per playlist record, with every character
// of the deck texts (see setfile/set_log_line.h; its name: setLogFileName). Its lines reach the
// disk the way records do, in order, synced one by one and waiting while another program holds the
// file, but the set log never ends a run: a failure is reported on its messages stream once, and
// every later line tries again, oldest first.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "tracker/pending.h"

constexpr LogForm kSetLogForm{"", "\n"};

class SetLogFile {
 public:
  // Messages about the file go to messages (the tracker's standard error).
  SetLogFile(PlaylistFiles& files, std::string path, std::ostream& messages);

  // Creates the file, empty. An existing file is kept and appended to.
  void create();
  // Writes the lines that wait, then this one (without its line end).
  void write(std::string line);
  // Writes the lines that wait.
  void retry();
  // For the end of a run, as RecordQueue::settle; lines still kept out then go to
  // "Playlist_X.pending.jsonl".
  void settle(int attempts, const std::function<void()>& pause);

  const std::string& path() const { return path_; }
  std::size_t waiting() const { return queue_.size(); }

 private:
  void note(FileResult result);

  PlaylistFiles& files_;
  std::string path_;
  std::ostream& messages_;
  RecordQueue queue_;
  bool failing_ = false;  // the last attempt failed and was reported
};
