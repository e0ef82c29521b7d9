#include "tracker/pending.h"
#include "tracker/set_log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

namespace {

const std::string kPlaylist = "Playlist_2026.12.07_22_00_00.txt";
const std::string kInUse = kPlaylist +
                           " is in use by another program; records will wait and be written"
                           " when it is free.\n";
std::string written(const std::string& count) { return count + " written to " + kPlaylist + ".\n"; }

// Files in memory. While inUse is set, appends answer "in use"; failure, when set, is the
// answer to every append instead. acceptsLeft, when not negative, is how many appends are
// taken before the file turns in use again.
class FakeFiles : public PlaylistFiles {
 public:
  FileResult append(const std::string& path, std::string_view record,
                    std::string_view lineEnd) override {
    if (failure != FileResult::kOk) return failure;
    if (acceptsLeft == 0) inUse = true;
    if (inUse) return FileResult::kInUse;
    if (acceptsLeft > 0) --acceptsLeft;
    files[path] += std::string(record) + std::string(lineEnd);
    return FileResult::kOk;
  }
  FileResult createNew(const std::string& path, std::string_view text) override {
    if (createFailure != FileResult::kOk) return createFailure;
    if (files.count(path) != 0) return FileResult::kExists;
    files[path] = text;
    return FileResult::kOk;
  }
  std::map<std::string, std::string> files;
  bool inUse = false;
  int acceptsLeft = -1;
  FileResult failure = FileResult::kOk;
  FileResult createFailure = FileResult::kOk;
};

struct Poll {
  bool inUse;
  std::vector<std::string> records;  // decided in this poll
  std::size_t waitingAfter;
};

// One poll as the tracking loop does it: each new record, then a retry of what waits.
FileResult runPoll(RecordQueue& queue, const std::vector<std::string>& records) {
  for (const std::string& record : records) {
    const FileResult result = queue.write(record);
    if (result != FileResult::kOk) return result;
  }
  return queue.retry();
}

struct Fixture {
  FakeFiles files;
  std::ostringstream console;
  RecordQueue queue{files, kPlaylist, console};
};

}  // namespace

TEST(RecordQueue, WaitingRecordsReachTheFileInOrderOnce) {
  const struct {
    const char* name;
    std::vector<Poll> polls;
    std::string file;
    std::string console;
  } cases[] = {
      {"free throughout", {{false, {"a"}, 0}, {false, {"b", "c"}, 0}}, "a\r\nb\r\nc\r\n", ""},
      {"in use for three polls, then free",
       {{true, {"a"}, 1}, {true, {}, 1}, {true, {}, 1}, {false, {}, 0}},
       "a\r\n",
       kInUse + written("1 waiting record")},
      {"new records decided while others wait",
       {{true, {"a"}, 1}, {true, {"b", "c"}, 3}, {true, {}, 3}, {false, {"d"}, 0}},
       "a\r\nb\r\nc\r\nd\r\n",
       kInUse + written("4 waiting records")},
      {"free, then in use for a poll",
       {{false, {"a"}, 0}, {true, {"b"}, 1}, {false, {}, 0}},
       "a\r\nb\r\n",
       kInUse + written("1 waiting record")},
      {"two waits, each announced",
       {{true, {"a"}, 1}, {false, {"b"}, 0}, {true, {"c"}, 1}, {false, {}, 0}},
       "a\r\nb\r\nc\r\n",
       kInUse + written("2 waiting records") + kInUse + written("1 waiting record")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    for (const Poll& poll : c.polls) {
      f.files.inUse = poll.inUse;
      ASSERT_EQ(runPoll(f.queue, poll.records), FileResult::kOk);
      EXPECT_EQ(f.queue.size(), poll.waitingAfter);
      EXPECT_EQ(f.queue.inUse(), poll.waitingAfter != 0);
    }
    EXPECT_EQ(f.files.files[kPlaylist], c.file);
    EXPECT_EQ(f.console.str(), c.console);
  }
}

TEST(RecordQueue, FileTakenAgainWhileWaitingRecordsAreWritten) {
  Fixture f;
  f.files.inUse = true;
  ASSERT_EQ(runPoll(f.queue, {"a", "b", "c"}), FileResult::kOk);
  f.files.inUse = false;
  f.files.acceptsLeft = 1;
  ASSERT_EQ(runPoll(f.queue, {}), FileResult::kOk);
  EXPECT_EQ(f.files.files[kPlaylist], "a\r\n");
  EXPECT_EQ(f.queue.size(), 2u);
  f.files.inUse = false;
  f.files.acceptsLeft = -1;
  ASSERT_EQ(runPoll(f.queue, {"d"}), FileResult::kOk);
  EXPECT_EQ(f.files.files[kPlaylist], "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(f.console.str(), kInUse + written("4 waiting records"));
}

TEST(RecordQueue, RealFailureKeepsTheWaitingRecords) {
  for (const FileResult failure : {FileResult::kOpenFailed, FileResult::kWriteFailed}) {
    Fixture f;
    f.files.inUse = true;
    ASSERT_EQ(runPoll(f.queue, {"a"}), FileResult::kOk);
    f.files.failure = failure;
    EXPECT_EQ(runPoll(f.queue, {"b"}), failure);
    EXPECT_EQ(f.queue.size(), 2u);
    EXPECT_TRUE(f.queue.inUse());
    EXPECT_EQ(f.files.files.count(kPlaylist), 0u);
    f.queue.printWaiting();
    EXPECT_EQ(f.console.str(), kInUse + "2 records could not be written to " + kPlaylist +
                                   "; here in the playlist's form:\na\nb\n");
  }
}

TEST(RecordQueue, StopWithRecordsWaiting) {
  const std::string pending = "Playlist_2026.12.07_22_00_00.pending.txt";
  const std::string second = "Playlist_2026.12.07_22_00_00.pending-2.txt";
  const std::string saved = std::string(kPlaylistHeader) + "a\r\nb\r\n";
  const struct {
    const char* name;
    int freeAfterPauses;  // 0: in use throughout
    bool pendingTaken;
    FileResult createFailure;
    FileResult result;
    int pauses;
    std::map<std::string, std::string> files;
    std::string console;
  } cases[] = {
      {"freed during the retries",
       2,
       false,
       FileResult::kOk,
       FileResult::kOk,
       2,
       {{kPlaylist, "a\r\nb\r\n"}},
       kInUse + written("2 waiting records")},
      {"in use throughout: saved beside",
       0,
       false,
       FileResult::kOk,
       FileResult::kOk,
       4,
       {{pending, saved}},
       kInUse + kPlaylist + " is still in use by another program; 2 waiting records saved in " +
           pending + "\n"},
      {"first pending name taken",
       0,
       true,
       FileResult::kOk,
       FileResult::kOk,
       4,
       {{pending, "older"}, {second, saved}},
       kInUse + kPlaylist + " is still in use by another program; 2 waiting records saved in " +
           second + "\n"},
      {"pending file fails",
       0,
       false,
       FileResult::kWriteFailed,
       FileResult::kWriteFailed,
       4,
       {},
       kInUse},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.pendingTaken) f.files.files[pending] = "older";
    f.files.createFailure = c.createFailure;
    f.files.inUse = true;
    ASSERT_EQ(runPoll(f.queue, {"a", "b"}), FileResult::kOk);
    int pauses = 0;
    EXPECT_EQ(f.queue.settle(5, [&] { f.files.inUse = ++pauses != c.freeAfterPauses; }), c.result);
    EXPECT_EQ(pauses, c.pauses);
    EXPECT_EQ(f.files.files, c.files);
    EXPECT_EQ(f.console.str(), c.console);
    EXPECT_EQ(f.queue.size(), c.result == FileResult::kOk ? 0u : 2u);
  }
}

TEST(RecordQueue, StopWithNothingWaitingTouchesNoFile) {
  Fixture f;
  f.files.failure = FileResult::kOpenFailed;
  EXPECT_EQ(f.queue.settle(5, [] { FAIL() << "paused with nothing waiting"; }), FileResult::kOk);
  EXPECT_EQ(f.console.str(), "");
}

// The set log beside the playlist: its lines reach the file in order, a failure is told
// once on its messages stream, later lines keep trying, and nothing ever ends the run.
TEST(SetLogFile, FailuresAreToldOnceAndTheLinesCatchUp) {
  const std::string log = "Playlist_2026.12.07_22_00_00.jsonl";
  EXPECT_EQ(setLogFileName(kPlaylist), log);
  EXPECT_EQ(pendingFileName(log, 2), "Playlist_2026.12.07_22_00_00.pending-2.jsonl");
  const struct {
    const char* name;
    FileResult createFailure;
    std::vector<FileResult> polls;  // the answer of every append during each poll
    std::string file;
    int messages;
  } cases[] = {
      {"healthy", FileResult::kOk, {FileResult::kOk, FileResult::kOk}, "{0}\n{1}\n", 0},
      {"not created, then writable",
       FileResult::kOpenFailed,
       {FileResult::kOk, FileResult::kOk},
       "{0}\n{1}\n",
       1},
      {"two failing polls, then writable: one message, order kept",
       FileResult::kOk,
       {FileResult::kWriteFailed, FileResult::kOpenFailed, FileResult::kOk},
       "{0}\n{1}\n{2}\n",
       1},
      {"fails, recovers, fails again: told each time",
       FileResult::kOk,
       {FileResult::kWriteFailed, FileResult::kOk, FileResult::kWriteFailed, FileResult::kOk},
       "{0}\n{1}\n{2}\n{3}\n",
       2},
      {"in use: lines wait without a failure",
       FileResult::kOk,
       {FileResult::kInUse, FileResult::kOk},
       "{0}\n{1}\n",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles files;
    std::ostringstream messages;
    SetLogFile setLog(files, log, messages);
    files.createFailure = c.createFailure;
    setLog.create();
    files.createFailure = FileResult::kOk;
    for (std::size_t i = 0; i < c.polls.size(); ++i) {
      files.inUse = c.polls[i] == FileResult::kInUse;
      files.failure = files.inUse ? FileResult::kOk : c.polls[i];
      setLog.write("{" + std::to_string(i) + "}");
      setLog.retry();
    }
    EXPECT_EQ(files.files[log], c.file);
    EXPECT_EQ(setLog.waiting(), 0u);
    const std::string told = messages.str();
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'),
              c.messages + (c.polls.front() == FileResult::kInUse ? 2 : 0))
        << told;
  }
}
