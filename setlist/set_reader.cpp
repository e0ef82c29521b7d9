#include "setlist/set_reader.h"

#include <iostream>
#include <optional>

#include "platform/file_identity.h"
#include "platform/platform.h"

namespace {

using Source = SetReader::Source;
using Tally = SetReader::Tally;

// Lines that are not records are named one by one up to this count, then counted.
constexpr std::uint64_t kNamedSkips = 10;
// A file changed this recently may still be being written by the tracker.
constexpr std::time_t kWritingSeconds = 10;
// Records further back in time than this are out of order.
constexpr std::int64_t kBackwardsSeconds = 60;

void fail(const std::string& what, const platform::Error& err) {
  std::cerr << "setlist: " << what << ": " << err.text << "\n";
}

// "2026-12-07 23:08:31"
std::string readable(const std::tm& time) {
  LocalStamp stamp{time, 0};
  std::string text;
  appendIsoStamp(stamp, &text);
  text.resize(19);
  text[10] = ' ';
  return text;
}

// Opens a source for its first reading.
bool openSource(Source& source, PlaylistReader* reader) {
  // A pipe cannot be read twice: its bytes are kept for the second reading.
  platform::FileStatus status;
  source.fromCopy =
      platform::StatPath(source.path, &status, nullptr) == platform::StatResult::kFound &&
      !status.regular;
  platform::Error err;
  if (!reader->open(source.path, &err)) {
    fail("cannot read " + source.path, err);
    return false;
  }
  if (source.fromCopy) reader->keepCopy(&source.copy);
  source.used = true;
  return true;
}

// Whether the file was changed so recently that the tracker may still be writing it.
bool mayBeWriting(const std::string& path) {
  platform::FileStatus status;
  return platform::StatPath(path, &status, nullptr) == platform::StatResult::kFound &&
         status.regular && std::time(nullptr) - status.modified < kWritingSeconds;
}

// The first reading of one file: its records one by one, with its bad lines named.
class SurveyReader {
 public:
  explicit SurveyReader(Source& source) : source_(source) {}

  bool open() {
    if (!openSource(source_, &reader_)) return false;
    writing_ = mayBeWriting(source_.path);
    return true;
  }

  // The next record into *record; false at the end or when the file cannot be read
  // (failed() tells).
  bool next(Record* record) {
    for (;;) {
      platform::Error err;
      const PlaylistReader::Result result = reader_.next(record, &err);
      source_.bytes = reader_.bytesRead();
      if (result == PlaylistReader::Result::kEnd) return false;
      if (result == PlaylistReader::Result::kFailed) {
        fail("cannot read " + source_.path, err);
        failed_ = true;
        return false;
      }
      if (result == PlaylistReader::Result::kSkipped) {
        skipped();
        continue;
      }
      checkOrder(*record);
      return true;
    }
  }

  // Counts a record as one to publish (or as an empty track).
  static void count(const Record& record, Tally* tally) {
    ++tally->records;
    if (record.ambiguous) ++tally->ambiguous;
    if (isEmptyTrack(record.track)) {
      ++tally->empty;
      return;
    }
    if (tally->records - tally->empty == 1) tally->first = record.time;
    tally->last = record.time;
  }

  // The warnings kept for the end of the reading.
  void finish() {
    source_.textBytes = reader_.allUtf8() ? TextBytes::kUtf8 : TextBytes::kLatin1;
    if (skipped_ > kNamedSkips) {
      std::cerr << "setlist: warning: " << source_.path << ": " << skipped_ - kNamedSkips
                << " more lines that are not records skipped\n";
    }
  }

  bool failed() const { return failed_; }

 private:
  void skipped() {
    // The tracker writes each line whole; a last line without its end is one it may be
    // writing at this moment.
    if (reader_.lineUnended() && writing_) return;
    if (++skipped_ > kNamedSkips) return;
    std::cerr << "setlist: warning: " << source_.path << ":" << reader_.line() << ": "
              << (reader_.lineUnended() ? "incomplete last line" : "not a record") << ", skipped\n";
  }

  void checkOrder(const Record& record) {
    const std::int64_t seconds = clockSeconds(record.time);
    if (previous_ && seconds < *previous_ - kBackwardsSeconds && !toldOrder_) {
      std::cerr << "setlist: warning: " << source_.path << ":" << reader_.line()
                << ": the time goes back from " << readable(previousTime_) << " to "
                << readable(record.time) << " (files joined in the wrong order?)\n";
      toldOrder_ = true;
    }
    previous_ = seconds;
    previousTime_ = record.time;
  }

  Source& source_;
  PlaylistReader reader_;
  bool writing_ = false;
  bool failed_ = false;
  std::uint64_t skipped_ = 0;
  std::optional<std::int64_t> previous_;
  std::tm previousTime_{};
  bool toldOrder_ = false;
};

// Opens a source again for the second reading, up to where the first ended.
bool reopen(Source& source, PlaylistReader* reader) {
  if (source.fromCopy) {
    reader->openBytes(source.copy);
  } else {
    platform::Error err;
    if (!reader->open(source.path, &err)) {
      fail("cannot read " + source.path, err);
      return false;
    }
  }
  reader->limit(source.bytes);
  reader->textBytes(source.textBytes);
  return true;
}

// The next record of a second reading, passing over the lines that are not records (the
// first reading named them); false at the end or on failure (*failed set).
bool nextRecord(PlaylistReader& reader, const Source& source, Record* record, bool* failed) {
  for (;;) {
    platform::Error err;
    switch (reader.next(record, &err)) {
      case PlaylistReader::Result::kRecord:
        return true;
      case PlaylistReader::Result::kSkipped:
        continue;
      case PlaylistReader::Result::kEnd:
        return false;
      case PlaylistReader::Result::kFailed:
        fail("cannot read " + source.path, err);
        *failed = true;
        return false;
    }
  }
}

}  // namespace

std::string setLogBeside(const std::string& path) {
  constexpr std::string_view kPlaylist = ".txt";
  if (path.size() < kPlaylist.size() ||
      path.compare(path.size() - kPlaylist.size(), kPlaylist.size(), kPlaylist) != 0) {
    return {};
  }
  return path.substr(0, path.size() - kPlaylist.size()) + ".jsonl";
}

bool SetReader::survey(const std::string& path, bool playlistOnly) {
  playlist_ = Source{};
  setLog_ = Source{};
  paired_ = Tally{};
  stopped_ = setLogRead_ = false;
  playlist_.path = path;

  SurveyReader playlist(playlist_);
  if (!playlist.open()) return false;
  std::optional<SurveyReader> setLog;
  if (!playlistOnly && !setLogBeside(path).empty()) {
    setLog_.path = setLogBeside(path);
    platform::FileStatus status;
    if (platform::StatPath(setLog_.path, &status, nullptr) == platform::StatResult::kFound) {
      setLog.emplace(setLog_);
      if (!setLog->open()) return false;
    }
  }

  // Both files are read side by side, record by record.
  Record fromPlaylist;
  Record fromSetLog;
  bool playlistEnded = false;
  bool setLogEnded = !setLog;
  std::uint64_t setLogRecords = 0;
  std::optional<std::uint64_t> differs;  // the first record that does not pair
  bool setLogLines = true;               // the playlist itself holds set log lines only
  while (!playlistEnded || !setLogEnded) {
    if (platform::StopRequested()) {
      stopped_ = true;
      return true;
    }
    const bool havePlaylist = !playlistEnded && playlist.next(&fromPlaylist);
    const bool haveSetLog = !setLogEnded && setLog->next(&fromSetLog);
    if (playlist.failed() || (setLog && setLog->failed())) return false;
    playlistEnded = !havePlaylist;
    setLogEnded = !haveSetLog;
    if (havePlaylist) {
      SurveyReader::count(fromPlaylist, &playlist_.tally);
      setLogLines = setLogLines && fromPlaylist.utcOffset.has_value();
    }
    if (haveSetLog) {
      ++setLogRecords;
      if (havePlaylist) SurveyReader::count(fromSetLog, &paired_);
    }
    if (havePlaylist && haveSetLog && !differs &&
        (fromPlaylist.deck != fromSetLog.deck ||
         clockSeconds(fromPlaylist.time) != clockSeconds(fromSetLog.time))) {
      differs = playlist_.tally.records;
    }
  }
  playlist.finish();
  if (setLog) setLog->finish();
  setLogRead_ = playlist_.tally.records > 0 && setLogLines;

  if (setLog) {
    const std::uint64_t records = playlist_.tally.records;
    // While the tracker writes a record, one file may be one record ahead of the other.
    const bool oneAhead = (records == setLogRecords + 1 || setLogRecords == records + 1) &&
                          (mayBeWriting(playlist_.path) || mayBeWriting(setLog_.path));
    if (!differs && (records == setLogRecords || oneAhead)) {
      setLogRead_ = true;
    } else {
      setLog_.used = false;
      std::cerr << "setlist: warning: the set log " << setLog_.path << " does not pair with "
                << playlist_.path << " (";
      if (differs) {
        std::cerr << "record " << *differs << " differs in deck or time";
      } else {
        std::cerr << records << (records == 1 ? " record" : " records") << " against "
                  << setLogRecords;
      }
      std::cerr << "); the texts are taken from the playlist\n";
    }
  }
  const Tally& published = tally();
  if (!setLog_.used && published.ambiguous > 0) {
    std::cerr << "setlist: warning: " << playlist_.path << ": " << published.ambiguous
              << (published.ambiguous == 1 ? " record holds" : " records hold")
              << " more '\";\"' separators than three texts need; the artist was read up to the "
                 "first and the album from the last\n";
  }
  if (published.empty > 0) {
    std::cerr << "setlist: note: " << published.empty
              << (published.empty == 1 ? " empty track" : " empty tracks")
              << " (a cleared deck: no artist, song or album) left out\n";
  }
  return true;
}

bool SetReader::read(const std::function<bool(const Record&)>& each) {
  PlaylistReader playlist;
  PlaylistReader setLog;
  if (!reopen(playlist_, &playlist) || (setLog_.used && !reopen(setLog_, &setLog))) return false;
  Record fromPlaylist;
  Record fromSetLog;
  bool failed = false;
  while (nextRecord(playlist, playlist_, &fromPlaylist, &failed)) {
    const Record* record = &fromPlaylist;
    if (setLog_.used) {
      if (!nextRecord(setLog, setLog_, &fromSetLog, &failed)) break;
      record = &fromSetLog;
    }
    if (platform::StopRequested()) {
      stopped_ = true;
      return true;
    }
    if (isEmptyTrack(record->track)) continue;
    if (!each(*record)) return true;
  }
  return !failed;
}
