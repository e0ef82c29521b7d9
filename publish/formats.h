// The output forms of a playlist's records: tracklist, CSV, JSON and a printable HTML page.
// Each appends to a text buffer that the caller writes out as it grows, so output streams.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "setfile/playlist_reader.h"

// Appends text as HTML content or attribute value: markup characters as references,
// control characters as blanks.
void appendHtml(std::string_view text, std::string* out);

class Format {
 public:
  virtual ~Format() = default;
  // Before the first record.
  virtual void begin(std::string* out) { (void)out; }
  // A track to publish: SetReader has left out the empty ones (isEmptyTrack).
  virtual void record(const Record& record, std::string* out) = 0;
  // After the last record.
  virtual void end(std::string* out) { (void)out; }
};

// The clockSeconds of the clock time `clock` (seconds after midnight) on the day that puts
// it nearest `near` (clockSeconds): the day before, the same day or the day after, within
// 12 hours either way. At exactly 12 hours it is the earlier day, or with laterOnTie the
// later one.
std::int64_t clockNear(int clock, std::int64_t near, bool laterOnTie);

// The clockSeconds of a recording's start, given as `start` (seconds after midnight), for a
// set whose first track was logged at `first`: the start nearest that track (see
// clockNear), so that a set crossing midnight is placed right. *afterFirst tells when the
// start falls after the track.
std::int64_t startOrigin(int start, const std::tm& first, bool* afterFirst);

// "HH:MM:SS Artist - Song" per line (the artist or the song alone when the other is empty),
// the time counted from the first track, or from the start of the recording (seconds after
// midnight; see startOrigin), a track before that start at 00:00:00.
class TracklistFormat : public Format {
 public:
  explicit TracklistFormat(std::optional<int> start) : start_(start) {}
  void record(const Record& record, std::string* out) override;
  // Whether the start was after the first track (whose time then reads 00:00:00).
  bool startAfterFirst() const { return startAfterFirst_; }

 private:
  std::optional<int> start_;
  std::optional<std::int64_t> origin_;
  bool startAfterFirst_ = false;
};

// RFC 4180 with a UTF-8 byte-order mark, CRLF line ends and the header
// time,deck,artist,song,album. With the formula guard, a text that a spreadsheet would run
// as a formula (one that begins with = + - @, a tab or a CR) is written with an apostrophe
// in front, which the spreadsheet shows as text.
class CsvFormat : public Format {
 public:
  explicit CsvFormat(bool formulaGuard = true) : formulaGuard_(formulaGuard) {}
  void begin(std::string* out) override;
  void record(const Record& record, std::string* out) override;

 private:
  bool formulaGuard_;
};

// A JSON array of {"time", "deck", "artist", "song", "album"} objects, one per line.
class JsonFormat : public Format {
 public:
  void begin(std::string* out) override;
  void record(const Record& record, std::string* out) override;
  void end(std::string* out) override;

 private:
  bool first_ = true;
};

// One self-contained page: a heading with the set's date, its first and last times and
// its number of tracks, then a numbered table. It needs the first and last records before
// it begins.
class HtmlFormat : public Format {
 public:
  HtmlFormat(const std::tm& first, const std::tm& last, std::uint64_t count)
      : first_(first), last_(last), count_(count) {}
  void begin(std::string* out) override;
  void record(const Record& record, std::string* out) override;
  void end(std::string* out) override;

 private:
  std::tm first_;
  std::tm last_;
  std::uint64_t count_;
  std::uint64_t number_ = 0;
};
