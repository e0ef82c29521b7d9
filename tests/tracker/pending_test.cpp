#include "tracker/pending.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "tracker/set_log_file.h"

namespace {

const std::string kPlaylist = "Playlist_2026.12.07_22_00_00.txt";
const std::string kPending = "Playlist_2026.12.07_22_00_00.pending.txt";

// The calls of the file layer that a test makes fail, and the reason each gives.
enum class Call { kInUse, kOpen, kCreate, kWrite, kSync, kTruncate, kClose };
const std::map<Call, std::string> kReasons = {
    {Call::kOpen, "No such device"},
    {Call::kCreate, "Permission denied"},
    {Call::kWrite, "No space left on device"},
    {Call::kSync, "Input/output error"},
    {Call::kTruncate, "Read-only file system"},
    {Call::kClose, "Bad file descriptor"},
};

// Files in memory. A call in failing fails; a failing write leaves half its data behind,
// a failing sync all of it, as a disk that fills up or goes away would.
class FakeCalls : public FileCalls {
 public:
  platform::Expected<Opened> openForAppend(const std::string& path) override {
    if (failing.count(Call::kInUse) != 0) return Opened::kInUse;
    if (auto err = fails(Call::kOpen)) return *err;
    open_ = path;
    files[path];
    return Opened::kOpened;
  }
  platform::Expected<Opened> createNew(const std::string& path) override {
    if (auto err = fails(Call::kCreate)) return *err;
    if (files.count(path) != 0) return Opened::kExists;
    open_ = path;
    files[path];
    return Opened::kOpened;
  }
  platform::Expected<std::uint64_t> seekEnd() override { return files[open_].size(); }
  platform::Status write(std::string_view data) override {
    if (auto err = fails(Call::kWrite)) {
      files[open_].append(data.substr(0, data.size() / 2));
      return *err;
    }
    files[open_].append(data);
    return {};
  }
  platform::Status truncate(std::uint64_t size) override {
    if (auto err = fails(Call::kTruncate)) return *err;
    files[open_].resize(size);
    return {};
  }
  platform::Status sync() override { return status(Call::kSync); }
  platform::Status close() override { return status(Call::kClose); }
  void remove(const std::string& path) override { files.erase(path); }

  std::map<std::string, std::string> files;
  std::set<Call> failing;

 private:
  std::optional<platform::Error> fails(Call call) const {
    if (failing.count(call) == 0) return std::nullopt;
    return platform::makeError("", kReasons.at(call));
  }
  platform::Status status(Call call) const {
    if (auto err = fails(call)) return *err;
    return {};
  }
  std::string open_;
};

struct Poll {
  std::set<Call> failing;
  std::vector<std::string> records;  // decided in this poll
  std::size_t waitingAfter;
};

struct Fixture {
  FakeCalls calls;
  std::ostringstream console, messages;
  RecordQueue queue{calls, kPlaylist, console, messages};

  // Polls as the tracking loop makes them: each new record, then a retry of what waits.
  void run(const std::vector<Poll>& polls) {
    for (const Poll& poll : polls) {
      calls.failing = poll.failing;
      for (const std::string& record : poll.records) queue.write(record);
      queue.retry();
      EXPECT_EQ(queue.size(), poll.waitingAfter);
    }
  }
};

const std::string kInUse = kPlaylist +
                           " is in use by another program; records will wait and be written"
                           " when it is free.\n";
std::string written(const std::string& count) { return count + " written to " + kPlaylist + ".\n"; }
std::string failing(Call call) {
  return kPlaylist + ": " + kReasons.at(call) +
         "; records will wait and be written when it can be written again.\n";
}
std::string recovered(const std::string& count) {
  return kPlaylist + " can be written again; " + count + " written.\n";
}

}  // namespace

TEST(RecordQueue, EveryRecordReachesTheFileOnceInOrder) {
  const std::set<Call> none, inUse{Call::kInUse}, full{Call::kWrite}, gone{Call::kOpen};
  const struct {
    const char* name;
    std::vector<Poll> polls;
    std::string console;
    std::string messages;
  } cases[] = {
      {"free throughout", {{none, {"a"}, 0}, {none, {"b", "c"}, 0}}, "", ""},
      {"in use for three polls, new records meanwhile",
       {{inUse, {"a"}, 1}, {inUse, {"b", "c"}, 3}, {inUse, {}, 3}, {none, {"d"}, 0}},
       kInUse + written("4 waiting records"),
       ""},
      {"disk full for two polls, part of a record written each time",
       {{none, {"a"}, 0}, {full, {"b"}, 1}, {full, {"c"}, 2}, {none, {"d"}, 0}},
       "",
       failing(Call::kWrite) + recovered("3 waiting records")},
      {"drive gone, then back",
       {{gone, {"a", "b"}, 2}, {none, {"c"}, 0}},
       "",
       failing(Call::kOpen) + recovered("3 waiting records")},
      {"sync fails after a whole write: cut back, written again once",
       {{{Call::kSync}, {"a"}, 1}, {none, {"b"}, 0}},
       "",
       failing(Call::kSync) + recovered("2 waiting records")},
      {"sync and the cut fail: cut back at the next attempt",
       {{{Call::kSync, Call::kTruncate}, {"a"}, 1}, {{Call::kTruncate}, {}, 1}, {none, {"b"}, 0}},
       "",
       failing(Call::kSync) + recovered("2 waiting records")},
      {"write and the cut fail, then the disk is freed",
       {{{Call::kWrite, Call::kTruncate}, {"a"}, 1}, {full, {"b"}, 2}, {none, {}, 0}},
       "",
       failing(Call::kWrite) + recovered("2 waiting records")},
      {"a failing close after a synced write counts as written",
       {{{Call::kClose}, {"a", "b"}, 0}},
       "",
       ""},
      {"in use, then full, then free; then full again: every change told",
       {{inUse, {"a"}, 1}, {full, {}, 1}, {none, {}, 0}, {full, {"b"}, 1}, {none, {}, 0}},
       kInUse,
       failing(Call::kWrite) + recovered("1 waiting record") + failing(Call::kWrite) +
           recovered("1 waiting record")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.run(c.polls);
    std::string expected;
    for (const Poll& poll : c.polls) {
      for (const std::string& record : poll.records) expected += record + "\r\n";
    }
    EXPECT_EQ(f.calls.files[kPlaylist], expected);
    EXPECT_EQ(f.console.str(), c.console);
    EXPECT_EQ(f.messages.str(), c.messages);
  }
}

TEST(RecordQueue, StopWithRecordsWaiting) {
  const std::string second = "Playlist_2026.12.07_22_00_00.pending-2.txt";
  const std::string saved = std::string(kPlaylistHeader) + "a\r\nb\r\n";
  const std::string inUseSaved = " is still in use by another program; 2 waiting records saved in ";
  const auto unwritable = [](Call call) {
    return kPending + ": " + kReasons.at(call) + "\n2 records could not be written to " +
           kPlaylist + "; here as they would stand in it:\na\nb\n";
  };
  const struct {
    const char* name;
    std::set<Call> failing;
    int freeAfterPauses;  // 0: failing throughout
    bool pendingTaken;
    std::map<std::string, std::string> files;
    std::string console;
    std::string messages;
  } cases[] = {
      {"freed during the retries",
       {Call::kInUse},
       2,
       false,
       {{kPlaylist, "a\r\nb\r\n"}},
       kInUse + written("2 waiting records"),
       ""},
      {"in use throughout: saved beside",
       {Call::kInUse},
       0,
       false,
       {{kPending, saved}},
       kInUse + kPlaylist + inUseSaved + kPending + "\n",
       ""},
      {"playlist not opened throughout, first pending name taken",
       {Call::kOpen},
       0,
       true,
       {{kPending, "older"}, {second, saved}},
       "",
       failing(Call::kOpen) + kPlaylist + " still cannot be written; 2 waiting records saved in " +
           second + "\n"},
      {"nothing can be created either: printed on the messages",
       {Call::kOpen, Call::kCreate},
       0,
       false,
       {},
       "",
       failing(Call::kOpen) + unwritable(Call::kCreate)},
      {"disk full throughout: the pending file is removed again",
       {Call::kWrite},
       0,
       false,
       {{kPlaylist, ""}},
       "",
       failing(Call::kWrite) + unwritable(Call::kWrite)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.pendingTaken) f.calls.files[kPending] = "older";
    f.run({{c.failing, {"a", "b"}, 2}});
    int pauses = 0;
    f.queue.settle(5, [&] {
      if (++pauses == c.freeAfterPauses) f.calls.failing.clear();
    });
    EXPECT_EQ(pauses, c.freeAfterPauses != 0 ? c.freeAfterPauses : 4);
    EXPECT_EQ(f.calls.files, c.files);
    EXPECT_EQ(f.console.str(), c.console);
    EXPECT_EQ(f.messages.str(), c.messages);
  }
}

TEST(RecordQueue, StopWithNothingWaitingTouchesNoFile) {
  Fixture f;
  f.calls.failing = {Call::kOpen, Call::kCreate};
  f.queue.settle(5, [] { FAIL() << "paused with nothing waiting"; });
  EXPECT_EQ(f.calls.files.size(), 0u);
  EXPECT_EQ(f.console.str() + f.messages.str(), "");
}

// The set log beside the playlist: a file that cannot be created is told once on the
// messages, and its lines reach it in order once it can be written.
TEST(SetLogFile, NotCreatedThenWritable) {
  const std::string log = "Playlist_2026.12.07_22_00_00.jsonl";
  EXPECT_EQ(setLogFileName(kPlaylist), log);
  EXPECT_EQ(pendingFileName(log, 2), "Playlist_2026.12.07_22_00_00.pending-2.jsonl");
  FakeCalls calls;
  std::ostringstream messages;
  SetLogFile setLog(calls, log, messages);
  calls.failing = {Call::kCreate, Call::kOpen};
  setLog.create();
  setLog.write("{0}");
  calls.failing.clear();
  setLog.write("{1}");
  EXPECT_EQ(calls.files[log], "{0}\n{1}\n");
  EXPECT_EQ(setLog.waiting(), 0u);
  EXPECT_EQ(messages.str(), log + ": Permission denied; lines will wait and be written when it" +
                                " can be written again.\n" + log +
                                " can be written again; 2 waiting lines written.\n");
}
