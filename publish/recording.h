// A set's tracks as points in a recording of it: a CUE sheet beside the audio file, or
// chapters for ffmpeg to embed in it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "platform/error.h"
#include "publish/formats.h"
#include "setfile/playlist_reader.h"

// Which of a track's times places it in the recording: when it was logged as played, or
// when its deck first held it.
enum class PointTime { kLogged, kLoaded };

// Milliseconds into the recording of each track, track by track: its time minus the
// recording's start, plus a shift. A point before the recording's start is 0; a point
// before the track before it is moved up to that one, so that the points stay in order.
// Where the times carry their offset from UTC (from a set log), a change of daylight
// saving time during the set is taken out; the start has the first track's offset.
class RecordingPoints {
 public:
  // `start` is the clock time (seconds after midnight) at which the recording began, on
  // the day that puts it nearest the first track, as for a tracklist (see startOrigin).
  RecordingPoints(int start, PointTime at, std::int64_t shiftMs)
      : start_(start), at_(at), shiftMs_(shiftMs) {}

  // The point of the next track. A track without a loaded time is placed at its logged one.
  std::int64_t next(const Record& record);

  // Milliseconds into the recording of the clock time `end` on the day that puts it
  // nearest the last track's logged time (see clockNear), not shifted: where a recording
  // that ended then ends. After the first track only.
  std::int64_t endMs(int end) const;

  // The number of tracks moved up to the one before them.
  std::uint64_t movedUp() const { return movedUp_; }
  // Whether the start lies after the first track's logged time.
  bool startAfterFirst() const { return startAfterFirst_; }
  // The number of tracks placed at their logged time for want of a loaded one.
  std::uint64_t withoutLoaded() const { return withoutLoaded_; }

 private:
  int start_;
  PointTime at_;
  std::int64_t shiftMs_;
  std::optional<std::int64_t> origin_;  // clockSeconds of the start
  std::optional<int> originOffset_;     // its offset from UTC, when known
  std::int64_t lastLogged_ = 0;         // clockSeconds of the last track's logged time
  std::optional<int> lastOffset_;       // its offset from UTC, when known
  std::int64_t last_ = 0;
  std::uint64_t movedUp_ = 0;
  std::uint64_t withoutLoaded_ = 0;
  bool startAfterFirst_ = false;
};

// The command line of cue and chapters beyond what every conversion takes.
struct RecordingOptions {
  bool cue = true;  // else chapters
  std::string audio;
  PointTime at = PointTime::kLogged;
  std::int64_t shiftMs = 0;
  bool bom = false;
  std::optional<int> end;  // seconds after midnight
};

// The recording options of a command line (cue's, chapters' or mixcloud's).
RecordingOptions recordingOptions(const Arguments& arguments);

// What keeps a CUE sheet from naming the audio file `audio` (a '"' or a control
// character), as a wrong command line; ok when nothing.
platform::Status checkCueAudio(std::string_view audio);

// Whether the recording's end, the clock time `end`, lies before the last track of the set,
// logged at `last`, on the day that puts it nearest that track. Such an end is refused.
bool endsBeforeLast(int end, const std::tm& last);

// The longest a CUE sheet can be: track numbers have two digits.
constexpr std::uint64_t kCueMostTracks = 99;

// The base of the two recording formats: places each track.
class RecordingFormat : public Format {
 public:
  RecordingFormat(int start, const RecordingOptions& options)
      : options_(options), points_(start, options.at, options.shiftMs) {}
  void record(const Record& record, std::string* out) final;
  const RecordingPoints& points() const { return points_; }

 protected:
  virtual void track(const Record& record, std::int64_t pointMs, std::string* out) = 0;
  RecordingOptions options_;

 private:
  RecordingPoints points_;
};

// A CUE sheet in UTF-8 (with a byte-order mark on request) and CRLF line ends: the year as
// REM DATE, the full date as REM COMMENT, one FILE, then TRACK, TITLE, PERFORMER and
// INDEX 01 mm:ss:ff per track, minutes going past 99. Titles and performers are cut to 80
// characters; a '"' in them becomes '\''.
class CueFormat : public RecordingFormat {
 public:
  using RecordingFormat::RecordingFormat;
  void begin(std::string* out) override;

 private:
  void track(const Record& record, std::int64_t pointMs, std::string* out) override;
  unsigned number_ = 0;
};

// An ffmpeg metadata file: a [CHAPTER] per track in milliseconds, each ending where the
// next begins; the last at the recording's end (`end`, when given; see
// RecordingPoints::endMs) or else 10 minutes after it begins. A title's backslashes at its
// end become '/', as in a CUE sheet: ffmpeg takes a line that ends in an escaped '\' to go
// on in the next line.
class ChaptersFormat : public RecordingFormat {
 public:
  static constexpr std::int64_t kLastChapterMs = 10 * 60 * 1000;

  using RecordingFormat::RecordingFormat;
  void begin(std::string* out) override;
  void end(std::string* out) override;
  // Whether the end given lay before the last chapter's start, which a shift can do (it
  // then ends where it begins).
  bool endBeforeLast() const { return endBeforeLast_; }

 private:
  void track(const Record& record, std::int64_t pointMs, std::string* out) override;
  void writePending(std::int64_t endMs, std::string* out);

  std::optional<std::int64_t> pendingMs_;
  std::string pendingTitle_;
  bool endBeforeLast_ = false;
};
