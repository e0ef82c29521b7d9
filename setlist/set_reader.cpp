#include "setlist/set_reader.h"

#include <iostream>
#include <optional>

#include "platform/file_identity.h"
#include "platform/platform.h"
#include "setfile/text.h"

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

// Makes a source ready for reading: a file that is not a regular one (a pipe) is read
// into memory, as it cannot be read twice.
bool prepare(Source& source) {
  source.used = true;
  platform::FileStatus status;
  source.fromCopy =
      platform::statPath(source.path, &status, nullptr) == platform::StatResult::kFound &&
      !status.regular;
  if (!source.fromCopy) return true;
  platform::InputFile file;
  platform::Error err;
  bool ok = file.open(source.path, &err);
  char buffer[64 * 1024];
  for (std::ptrdiff_t n = 1; ok && n > 0;) {
    n = file.read(buffer, sizeof buffer, &err);
    if (n > 0) source.copy.append(buffer, static_cast<std::size_t>(n));
    ok = n >= 0;
  }
  if (!ok) fail("cannot read " + source.path, err);
  return ok;
}

// Opens a prepared source for a reading, up to `limit` bytes.
bool startReading(const Source& source, std::uint64_t limit, PlaylistReader* reader) {
  if (source.fromCopy) {
    reader->openBytes(source.copy);
  } else {
    platform::Error err;
    if (!reader->open(source.path, &err)) {
      fail("cannot read " + source.path, err);
      return false;
    }
  }
  reader->limit(limit);
  reader->textBytes(source.textBytes);
  return true;
}

// Whether the whole source is UTF-8: then its texts are read as UTF-8, else as Latin-1. A
// playlist of the tracker with a single Latin-1 letter stops the scan there.
bool isUtf8Source(const Source& source, bool* utf8) {
  if (source.fromCopy) {
    *utf8 = isUtf8(source.copy);
    return true;
  }
  platform::InputFile file;
  platform::Error err;
  if (!file.open(source.path, &err)) {
    fail("cannot read " + source.path, err);
    return false;
  }
  // Whole lines are checked; the rest waits for the next part of the file.
  std::string pending;
  char buffer[64 * 1024];
  for (;;) {
    const std::ptrdiff_t n = file.read(buffer, sizeof buffer, &err);
    if (n < 0) {
      fail("cannot read " + source.path, err);
      return false;
    }
    if (n == 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    const std::size_t end = pending.rfind('\n');
    if (end == std::string::npos && pending.size() < sizeof buffer) continue;
    const std::size_t whole = end == std::string::npos ? pending.size() : end + 1;
    if (!isUtf8(std::string_view(pending).substr(0, whole))) {
      *utf8 = false;
      return true;
    }
    pending.erase(0, whole);
  }
  *utf8 = isUtf8(pending);
  return true;
}

// Whether the file was changed so recently that the tracker may still be writing it.
bool mayBeWriting(const std::string& path) {
  platform::FileStatus status;
  return platform::statPath(path, &status, nullptr) == platform::StatResult::kFound &&
         status.regular && std::time(nullptr) - status.modified < kWritingSeconds;
}

// The first reading of one file: its records one by one, with its bad lines named.
class SurveyReader {
 public:
  // A first reading of two looks at the texts only to see whether they are empty: their
  // bytes are taken as they are, and the file's lines tell how to read them the second time.
  // checksOrder: warns when the times go back (the set log beside a playlist leaves that
  // to the playlist, so that it is said once).
  SurveyReader(Source& source, bool firstOfTwo, bool checksOrder = true)
      : source_(source), firstOfTwo_(firstOfTwo), toldOrder_(!checksOrder) {}

  bool open() {
    if (firstOfTwo_) source_.textBytes = TextBytes::kUtf8;
    if (!startReading(source_, UINT64_MAX, &reader_)) return false;
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
    if (firstOfTwo_) source_.textBytes = reader_.allUtf8() ? TextBytes::kUtf8 : TextBytes::kLatin1;
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
  const bool firstOfTwo_;
  PlaylistReader reader_;
  bool writing_ = false;
  bool failed_ = false;
  std::uint64_t skipped_ = 0;
  std::optional<std::int64_t> previous_;
  std::tm previousTime_{};
  bool toldOrder_ = false;
};

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

bool SetReader::open(const std::string& path, bool playlistOnly, bool counts) {
  playlist_ = Source{};
  setLog_ = Source{};
  paired_ = Tally{};
  surveyed_ = stopped_ = setLogRead_ = false;
  playlist_.path = path;
  if (!prepare(playlist_)) return false;
  platform::FileStatus status;
  if (!playlistOnly && !setLogFileName(path).empty() &&
      platform::statPath(setLogFileName(path), &status, nullptr) == platform::StatResult::kFound) {
    setLog_.path = setLogFileName(path);
    if (!prepare(setLog_)) return false;
  }
  if (counts || setLog_.used) return survey();
  bool utf8 = false;
  if (!isUtf8Source(playlist_, &utf8)) return false;
  playlist_.textBytes = utf8 ? TextBytes::kUtf8 : TextBytes::kLatin1;
  return true;
}

bool SetReader::survey() {
  surveyed_ = true;
  SurveyReader playlist(playlist_, true);
  if (!playlist.open()) return false;
  std::optional<SurveyReader> setLog;
  if (setLog_.used) {
    setLog.emplace(setLog_, true, false);
    if (!setLog->open()) return false;
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
    if (platform::stopRequested()) {
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
  warnAtEnd();
  return true;
}

void SetReader::warnAtEnd() const {
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
}

bool SetReader::read(const std::function<bool(const Record&)>& each) {
  if (!surveyed_) {
    // The only reading: it names the bad lines and counts as it goes.
    SurveyReader playlist(playlist_, false);
    if (!playlist.open()) return false;
    Record record;
    bool setLogLines = true;
    while (playlist.next(&record)) {
      SurveyReader::count(record, &playlist_.tally);
      setLogLines = setLogLines && record.utcOffset.has_value();
      setLogRead_ = setLogLines;
      if (platform::stopRequested()) {
        stopped_ = true;
        return true;
      }
      if (isEmptyTrack(record.track)) continue;
      if (!each(record)) return true;
    }
    if (playlist.failed()) return false;
    playlist.finish();
    warnAtEnd();
    return true;
  }

  PlaylistReader playlist;
  PlaylistReader setLog;
  if (!startReading(playlist_, playlist_.bytes, &playlist) ||
      (setLog_.used && !startReading(setLog_, setLog_.bytes, &setLog))) {
    return false;
  }
  Record fromPlaylist;
  Record fromSetLog;
  bool failed = false;
  while (nextRecord(playlist, playlist_, &fromPlaylist, &failed)) {
    const Record* record = &fromPlaylist;
    if (setLog_.used) {
      if (!nextRecord(setLog, setLog_, &fromSetLog, &failed)) break;
      record = &fromSetLog;
    }
    if (platform::stopRequested()) {
      stopped_ = true;
      return true;
    }
    if (isEmptyTrack(record->track)) continue;
    if (!each(*record)) return true;
  }
  return !failed;
}
