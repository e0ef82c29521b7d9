#include "publish/set_reader.h"

#include <optional>

#include "platform/file_identity.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/set_pairing.h"
#include "setfile/text.h"

namespace {

using platform::Error;
using platform::Expected;
using platform::Status;
using Source = SetReader::Source;
using Tally = SetReader::Tally;

// Lines that are not records are named one by one up to this count, then counted.
constexpr std::uint64_t kNamedSkips = 10;
// A file changed this recently may still be being written by the tracker.
constexpr std::time_t kWritingSeconds = 10;
// Records further back in time than this are out of order.
constexpr std::int64_t kBackwardsSeconds = 60;
// Files are read in parts of this size.
constexpr std::size_t kReadSize = 64 * 1024;

// A failure to read one of the set's files, naming it.
Error readFailure(const Source& source, const Error& err) {
  return Error{err.code, source.path, err.text};
}

// "2026-12-07 23:08:31"
std::string readable(const std::tm& time) {
  std::string text;
  appendClock(time, "-- ::", &text);
  return text;
}

// Makes a source ready for reading: a file that is not a regular one (a pipe) is read
// into memory, as it cannot be read twice.
Status prepare(Source& source) {
  source.used = true;
  platform::FileStatus status;
  source.fromCopy =
      platform::statPath(source.path, &status, nullptr) == platform::StatResult::kFound &&
      !status.regular;
  if (!source.fromCopy) return {};
  platform::InputFile file;
  if (Status opened = file.open(source.path); !opened) return readFailure(source, opened.error());
  char buffer[kReadSize];
  for (;;) {
    const Expected<std::size_t> n = file.read(buffer, sizeof buffer);
    if (!n) return readFailure(source, n.error());
    if (*n == 0) return {};
    source.copy.append(buffer, *n);
  }
}

// Opens a prepared source for a reading, up to `limit` bytes.
Status startReading(const Source& source, std::uint64_t limit, PlaylistReader* reader) {
  if (source.fromCopy) {
    reader->openBytes(source.copy);
  } else if (Status opened = reader->open(source.path); !opened) {
    return readFailure(source, opened.error());
  }
  reader->limit(limit);
  reader->textBytes(source.textBytes);
  return {};
}

// Whether the whole source is UTF-8: then its texts are read as UTF-8, else as Latin-1. A
// playlist of the tracker with a single Latin-1 letter stops the scan there.
Expected<bool> isUtf8Source(const Source& source) {
  if (source.fromCopy) return isUtf8(source.copy);
  platform::InputFile file;
  if (Status opened = file.open(source.path); !opened) return readFailure(source, opened.error());
  // Whole lines are checked; the rest waits for the next part of the file.
  std::string pending;
  char buffer[kReadSize];
  for (Expected<std::size_t> n = file.read(buffer, sizeof buffer); !n || *n != 0;
       n = file.read(buffer, sizeof buffer)) {
    if (!n) return readFailure(source, n.error());
    pending.append(buffer, *n);
    const std::size_t end = pending.rfind('\n');
    if (end == std::string::npos && pending.size() < sizeof buffer) continue;
    const std::size_t whole = end == std::string::npos ? pending.size() : end + 1;
    if (!isUtf8(std::string_view(pending).substr(0, whole))) return false;
    pending.erase(0, whole);
  }
  return isUtf8(pending);
}

// Whether the file was changed so recently that the tracker may still be writing it.
bool mayBeWriting(const std::string& path) {
  platform::FileStatus status;
  return platform::statPath(path, &status, nullptr) == platform::StatResult::kFound &&
         status.regular && std::time(nullptr) - status.modified < kWritingSeconds;
}

// Counts a record as one to publish (or as an empty track).
void count(const Record& record, Tally* tally) {
  ++tally->records;
  if (record.ambiguous) ++tally->ambiguous;
  if (isEmptyTrack(record.track)) {
    ++tally->empty;
    return;
  }
  if (tally->records - tally->empty == 1) tally->first = record.time;
  tally->last = record.time;
}

// The records of one file of the set, one by one, passing over the lines that are not
// records. A first reading (kFirst) names those lines and records that go back in time;
// a second one (kAgain) passes over them silently, reading no further than the first.
class RecordSource {
 public:
  enum class Reading { kFirst, kAgain };

  // firstOfTwo: a first reading before a second looks at the texts only to see whether
  // they are empty: their bytes are taken as they are, and the file's lines tell how to
  // read them the second time. checksOrder: warns when the times go back (the set log
  // beside a playlist leaves that to the playlist, so that it is said once).
  RecordSource(Source& source, Reading reading, bool firstOfTwo = false, bool checksOrder = true)
      : source_(source), reading_(reading), firstOfTwo_(firstOfTwo), toldOrder_(!checksOrder) {}

  Status open() {
    if (firstOfTwo_) source_.textBytes = TextBytes::kUtf8;
    const bool first = reading_ == Reading::kFirst;
    writing_ = first && mayBeWriting(source_.path);
    return startReading(source_, first ? UINT64_MAX : source_.bytes, &reader_);
  }

  // The next record into *record; false at the end or when the file cannot be read
  // (status() tells).
  bool next(Record* record) {
    for (;;) {
      Error err;
      const PlaylistReader::Result result = reader_.next(record, &err);
      if (reading_ == Reading::kFirst) source_.bytes = reader_.bytesRead();
      switch (result) {
        case PlaylistReader::Result::kRecord:
          if (reading_ == Reading::kFirst) checkOrder(*record);
          return true;
        case PlaylistReader::Result::kSkipped:
          if (reading_ == Reading::kFirst) skipped();
          continue;
        case PlaylistReader::Result::kEnd:
          return false;
        case PlaylistReader::Result::kFailed:
          status_ = readFailure(source_, err);
          return false;
      }
    }
  }

  const Status& status() const { return status_; }

  // The warnings kept for the end of a first reading.
  void finish() {
    if (firstOfTwo_) source_.textBytes = reader_.allUtf8() ? TextBytes::kUtf8 : TextBytes::kLatin1;
    if (skipped_ > kNamedSkips) {
      platform::reportWarning(platform::makeError(
          source_.path,
          std::to_string(skipped_ - kNamedSkips) + " more lines that are not records skipped"));
    }
  }

 private:
  void skipped() {
    // The tracker writes each line whole; a last line without its end is one it may be
    // writing at this moment.
    if (reader_.lineUnended() && writing_) return;
    if (++skipped_ > kNamedSkips) return;
    platform::reportWarning(platform::makeError(
        here(), reader_.lineUnended() ? "incomplete last line, skipped" : "not a record, skipped"));
  }

  void checkOrder(const Record& record) {
    const std::int64_t seconds = clockSeconds(record.time);
    if (previous_ && seconds < *previous_ - kBackwardsSeconds && !toldOrder_) {
      platform::reportWarning(platform::makeError(
          here(), "the time goes back from " + readable(previousTime_) + " to " +
                      readable(record.time) + " (files joined in the wrong order?)"));
      toldOrder_ = true;
    }
    previous_ = seconds;
    previousTime_ = record.time;
  }

  // "<file>:<line>"
  std::string here() const { return source_.path + ":" + std::to_string(reader_.line()); }

  Source& source_;
  const Reading reading_;
  const bool firstOfTwo_;
  PlaylistReader reader_;
  Status status_;
  bool writing_ = false;
  std::uint64_t skipped_ = 0;
  std::optional<std::int64_t> previous_;
  std::tm previousTime_{};
  bool toldOrder_ = false;
};

// The set log's records one by one, for SetLogPairing; none without a set log.
std::function<bool(Record*)> recordsOf(std::optional<RecordSource>& setLog) {
  return [&setLog](Record* record) { return setLog && setLog->next(record); };
}

// The first failure to read either file.
Status readStatus(const RecordSource& playlist, const std::optional<RecordSource>& setLog) {
  if (!playlist.status()) return playlist.status();
  return setLog ? setLog->status() : Status();
}

// "record 2", "records 2, 5 and 9", "records 2, 5, ... (12 in all)"
std::string recordNumbers(const std::vector<std::uint64_t>& numbers, std::uint64_t count) {
  std::string text = count == 1 ? "record " : "records ";
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    text += i == 0 ? "" : (i + 1 == count ? " and " : ", ");
    text += std::to_string(numbers[i]);
  }
  if (count > numbers.size()) text += ", ... (" + std::to_string(count) + " in all)";
  return text;
}

}  // namespace

Status SetReader::open(const std::string& path, bool playlistOnly, bool counts) {
  playlist_ = Source{};
  setLog_ = Source{};
  published_ = Tally{};
  surveyed_ = stopped_ = setLogRead_ = dropLast_ = false;
  playlist_.path = path;
  if (Status prepared = prepare(playlist_); !prepared) return prepared;
  const std::string setLog = setLogFileName(path);
  platform::FileStatus status;
  if (!playlistOnly && !setLog.empty() &&
      platform::statPath(setLog, &status, nullptr) == platform::StatResult::kFound) {
    setLog_.path = setLog;
    if (Status prepared = prepare(setLog_); !prepared) return prepared;
  }
  if (counts || setLog_.used) return survey();
  const Expected<bool> utf8 = isUtf8Source(playlist_);
  if (!utf8) return utf8.status();
  playlist_.textBytes = *utf8 ? TextBytes::kUtf8 : TextBytes::kLatin1;
  return {};
}

Status SetReader::survey() {
  surveyed_ = true;
  RecordSource playlist(playlist_, RecordSource::Reading::kFirst, true);
  if (Status opened = playlist.open(); !opened) return opened;
  std::optional<RecordSource> setLog;
  if (setLog_.used) {
    setLog.emplace(setLog_, RecordSource::Reading::kFirst, true, false);
    if (Status opened = setLog->open(); !opened) return opened;
  }
  SetLogPairing pairing(recordsOf(setLog));
  Pairing found;
  bool setLogLines = true;  // the playlist itself holds set log lines only
  for (Record record; playlist.next(&record);) {
    if (platform::stopRequested()) {
      stopped_ = true;
      return {};
    }
    count(record, &playlist_.tally);
    setLogLines = setLogLines && record.utcOffset.has_value();
    const Record* partner = setLog ? pairing.partnerOf(record) : nullptr;
    found.beforeLast = published_;
    count(partner != nullptr ? *partner : record, &published_);
    found.lastUnpaired = setLog && partner == nullptr;
    if (partner != nullptr) {
      ++found.paired;
    } else if (setLog && ++found.unpaired <= kNamedSkips) {
      found.numbers.push_back(playlist_.tally.records);
    }
  }
  found.setLogRecords = pairing.drain();
  if (Status read = readStatus(playlist, setLog); !read) return read;
  playlist.finish();
  if (setLog) setLog->finish();
  setLogRead_ = playlist_.tally.records > 0 && setLogLines;
  if (setLog) checkPairing(found);
  warnAtEnd();
  return {};
}

void SetReader::checkPairing(Pairing& found) {
  const std::uint64_t records = playlist_.tally.records;
  // While the tracker writes a record, the playlist may be one record ahead of the set
  // log: that record is left for the next reading.
  if (found.lastUnpaired && (mayBeWriting(playlist_.path) || mayBeWriting(setLog_.path))) {
    dropLast_ = true;
    published_ = found.beforeLast;
    if (found.numbers.size() == found.unpaired) found.numbers.pop_back();
    --found.unpaired;
  }
  const std::string against = std::to_string(records) + (records == 1 ? " record" : " records") +
                              " against " + std::to_string(found.setLogRecords);
  if (found.paired == 0 && records > 0) {
    setLog_.used = dropLast_ = false;
    if (found.setLogRecords == 0 && found.unpaired == 0) return;  // its first being written
    platform::reportWarning("the set log " + setLog_.path + " does not pair with " +
                            playlist_.path + " (" + against +
                            ", none of the same deck and time); the texts are taken from the "
                            "playlist");
    return;
  }
  setLogRead_ = true;
  if (found.unpaired == 0) return;
  const bool one = found.unpaired == 1;
  platform::reportWarning("the set log " + setLog_.path + " does not pair with " + playlist_.path +
                          " (" + (records != found.setLogRecords ? against + "; " : "") +
                          recordNumbers(found.numbers, found.unpaired) + (one ? " has" : " have") +
                          " none of the same deck and time); the texts of " +
                          (one ? "that record" : "those records") + " are taken from the playlist");
}

void SetReader::warnAtEnd() const {
  const Tally& published = tally();
  if (published.ambiguous > 0) {
    platform::reportWarning(platform::makeError(
        playlist_.path,
        std::to_string(published.ambiguous) +
            (published.ambiguous == 1 ? " record holds" : " records hold") +
            " more '\";\"' separators than three texts need; the artist was read up to the "
            "first and the album from the last"));
  }
  if (published.empty > 0) {
    platform::reportNote(std::to_string(published.empty) +
                         (published.empty == 1 ? " empty track" : " empty tracks") +
                         " (a cleared deck: no artist, song or album) left out");
  }
}

Status SetReader::read(const std::function<bool(const Record&)>& each) {
  // Without a first reading, this one names the bad lines and counts as it goes.
  const auto reading = surveyed_ ? RecordSource::Reading::kAgain : RecordSource::Reading::kFirst;
  RecordSource playlist(playlist_, reading);
  if (Status opened = playlist.open(); !opened) return opened;
  std::optional<RecordSource> setLog;
  if (setLog_.used) {
    setLog.emplace(setLog_, reading);
    if (Status opened = setLog->open(); !opened) return opened;
  }
  // The playlist gives the records; a set log read beside it gives the texts of each
  // record it pairs with.
  SetLogPairing pairing(recordsOf(setLog));
  bool setLogLines = true;
  std::uint64_t index = 0;
  for (Record record; playlist.next(&record);) {
    if (dropLast_ && ++index == playlist_.tally.records) break;
    const Record* partner = setLog ? pairing.partnerOf(record) : nullptr;
    const Record& published = partner != nullptr ? *partner : record;
    if (!surveyed_) {
      count(published, &playlist_.tally);
      setLogRead_ = setLogLines = setLogLines && published.utcOffset.has_value();
    }
    if (platform::stopRequested()) {
      stopped_ = true;
      return {};
    }
    if (isEmptyTrack(published.track)) continue;
    if (!each(published)) return {};
  }
  if (Status read = readStatus(playlist, setLog); !read) return read;
  if (!surveyed_) {
    playlist.finish();
    warnAtEnd();
  }
  return {};
}

// The reason for each case, as convert and check name it.
platform::Error nothingToPublish(const std::string& path, const SetReader& set) {
  if (set.bytes() == 0) {
    return platform::makeError("", path + " is empty: it holds no records to convert");
  }
  if (set.records() == 0) {
    return platform::makeError("", path + " holds no records: it is not a playlist of the tracker");
  }
  return platform::makeError("", path + " holds only empty tracks: there is nothing to publish");
}

platform::Expected<std::vector<Record>> readSetTracks(const std::string& path, bool playlistOnly) {
  SetReader set;
  if (platform::Status opened = set.open(path, playlistOnly, false); !opened) {
    return opened.error();
  }
  std::vector<Record> tracks;
  if (platform::Status read = set.read([&](const Record& record) {
        tracks.push_back(record);
        return true;
      });
      !read) {
    return read.error();
  }
  if (set.records() == 0) return nothingToPublish(path, set);
  return tracks;
}
