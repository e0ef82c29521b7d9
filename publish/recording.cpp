#include "publish/recording.h"

#include "platform/ascii.h"
#include "publish/set_reader.h"
#include "setfile/set_log_line.h"
#include "setfile/text.h"

namespace {

// CUE text fields hold at most this many characters.
constexpr std::size_t kCueTextLength = 80;

// A CUE text in quotes: control characters as blanks, '"' (which CUE cannot escape) as
// '\'', cut to 80 characters, never inside one. Readers take '\' before a quote as an
// escape that would swallow the closing quote, so backslashes that end it become '/'.
void appendCueText(std::string_view text, std::string* out) {
  out->push_back('"');
  const std::size_t begin = out->size();
  text = text.substr(0, utf8Prefix(text, kCueTextLength));
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (const std::size_t control = controlAt(text, i); control != 0) {
      out->push_back(' ');
      i += control - 1;
    } else {
      out->push_back(text[i] == '"' ? '\'' : text[i]);
    }
  }
  for (std::size_t end = out->size(); end > begin && (*out)[end - 1] == '\\'; --end) {
    (*out)[end - 1] = '/';
  }
  out->push_back('"');
}

// A value of an ffmpeg metadata file: '=', ';', '#', '\' and a line end escaped with '\',
// other control characters as blanks.
void appendMetadataText(std::string_view text, std::string* out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=' || c == ';' || c == '#' || c == '\\' || c == '\n') {
      out->push_back('\\');
      out->push_back(c);
    } else if (const std::size_t control = controlAt(text, i); control != 0) {
      out->push_back(' ');
      i += control - 1;
    } else {
      out->push_back(c);
    }
  }
}

// "mm:ss:ff" with 75 frames to the second, the minutes as many as it takes. A point
// between two frames is at the earlier one.
void appendCueTime(std::int64_t pointMs, std::string* out) {
  const std::int64_t frames = pointMs * 75 / 1000;
  appendNumber(frames / (75 * 60), 2, out);
  out->push_back(':');
  appendNumber(frames / 75 % 60, 2, out);
  out->push_back(':');
  appendNumber(frames % 75, 2, out);
}

}  // namespace

std::int64_t RecordingPoints::next(const Record& record) {
  if (!origin_) {
    origin_ = startOrigin(start_, record.time, &startAfterFirst_);
    originOffset_ = record.utcOffset;
  }
  lastLogged_ = clockSeconds(record.time);
  lastOffset_ = record.utcOffset;
  std::tm time = record.time;
  std::optional<int> offset = record.utcOffset;
  if (at_ == PointTime::kLoaded && record.loaded) {
    time = record.loaded->local;
    offset = record.loaded->utcOffset;
  } else if (at_ == PointTime::kLoaded) {
    ++withoutLoaded_;
  }
  std::int64_t seconds = clockSeconds(time) - *origin_;
  if (offset && originOffset_) seconds -= *offset - *originOffset_;
  std::int64_t point = seconds * 1000 + shiftMs_;
  if (point < 0) point = 0;
  if (point < last_) {
    point = last_;
    ++movedUp_;
  }
  last_ = point;
  return point;
}

std::int64_t RecordingPoints::endMs(int end) const {
  std::int64_t seconds = clockNear(end, lastLogged_, true) - origin_.value_or(0);
  if (lastOffset_ && originOffset_) seconds -= *lastOffset_ - *originOffset_;
  return seconds * 1000;
}

bool endsBeforeLast(int end, const std::tm& last) {
  const std::int64_t track = clockSeconds(last);
  return clockNear(end, track, true) < track;
}

RecordingOptions recordingOptions(const Arguments& arguments) {
  RecordingOptions options;
  options.cue = arguments.command().name == "cue";
  options.audio = arguments.text("--audio");
  options.at = arguments.text("--at") == "loaded" ? PointTime::kLoaded : PointTime::kLogged;
  options.shiftMs = arguments.milliseconds("--shift").value_or(0);
  options.bom = arguments.given("--bom");
  options.end = arguments.clock("--end");
  return options;
}

platform::Status checkCueAudio(std::string_view audio) {
  for (std::size_t i = 0; i < audio.size(); ++i) {
    if (audio[i] == '"' || controlAt(audio, i) != 0) {
      return platform::makeError(
          "", "--audio: a CUE sheet cannot name a file with '\"' or a control character: '" +
                  std::string(audio) + "'");
    }
  }
  return {};
}

void RecordingFormat::record(const Record& record, std::string* out) {
  track(record, points_.next(record), out);
}

void CueFormat::begin(std::string* out) {
  if (options_.bom) out->append("\xEF\xBB\xBF");
}

void CueFormat::track(const Record& record, std::int64_t pointMs, std::string* out) {
  if (number_++ == 0) {
    const std::tm& day = record.time;
    out->append("REM DATE ");
    appendNumber(day.tm_year + 1900, 4, out);
    out->append("\r\nREM COMMENT \"");
    appendIsoDate(day, out);
    out->append("\"\r\nFILE \"");
    out->append(options_.audio);  // as given: it names a file, and holds no '"'
    out->push_back('"');
    const std::size_t dot = options_.audio.rfind('.');
    const std::string extension =
        platform::asciiLower(dot == std::string::npos ? "" : options_.audio.substr(dot + 1));
    out->append(extension == "mp3" ? " MP3\r\n" : " WAVE\r\n");
  }
  out->append("  TRACK ");
  appendNumber(std::uint64_t{number_}, 2, out);
  out->append(" AUDIO\r\n    TITLE ");
  appendCueText(record.track.song, out);
  out->append("\r\n    PERFORMER ");
  appendCueText(record.track.artist, out);
  out->append("\r\n    INDEX 01 ");
  appendCueTime(pointMs, out);
  out->append("\r\n");
}

void ChaptersFormat::begin(std::string* out) { out->append(";FFMETADATA1\n"); }

void ChaptersFormat::track(const Record& record, std::int64_t pointMs, std::string* out) {
  if (pendingMs_) writePending(pointMs, out);
  pendingMs_ = pointMs;
  const Track& t = record.track;
  std::string title = t.artist;
  if (!t.artist.empty() && !t.song.empty()) title.append(" - ");
  title.append(t.song);
  for (std::size_t end = title.size(); end > 0 && title[end - 1] == '\\'; --end) {
    title[end - 1] = '/';
  }
  pendingTitle_.clear();
  appendMetadataText(title, &pendingTitle_);
}

void ChaptersFormat::end(std::string* out) {
  if (!pendingMs_) return;
  std::int64_t endMs = options_.end ? points().endMs(*options_.end) : *pendingMs_ + kLastChapterMs;
  if (endMs < *pendingMs_) {
    endBeforeLast_ = true;
    endMs = *pendingMs_;
  }
  writePending(endMs, out);
}

void ChaptersFormat::writePending(std::int64_t endMs, std::string* out) {
  out->append("[CHAPTER]\nTIMEBASE=1/1000\nSTART=");
  appendNumber(*pendingMs_, 1, out);
  out->append("\nEND=");
  appendNumber(endMs, 1, out);
  out->append("\ntitle=");
  out->append(pendingTitle_);
  out->push_back('\n');
}
