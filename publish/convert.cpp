// The conversions: tracklist, csv, json, html, cue and chapters. Each opens the set (see
// SetReader: a first reading counts the tracks when the form needs their number or times
// before the first, or when a set log lies beside the playlist), then reads it to write its
// output as it goes, to standard output or, with -o, to a new version of a file that
// replaces the old one only once it is complete.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli.h"
#include "cli/options.h"
#include "platform/file_identity.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/commands.h"
#include "publish/formats.h"
#include "publish/recording.h"
#include "publish/set_reader.h"
#include "publish/title_clean.h"
#include "setfile/clock.h"

namespace {

using platform::Error;
using platform::Status;

// Output is handed to the system in parts of about this size.
constexpr std::size_t kWriteSize = 64 * 1024;

enum class Form { kTracklist, kCsv, kJson, kHtml, kRecording };

struct Options {
  std::string playlist;
  std::optional<std::string> output;
  std::optional<int> start;  // seconds after midnight
  bool playlistOnly = false;
  bool raw = false;  // CSV cells without the formula guard
  RecordingOptions recording;
  TitleCleaning cleaning;
};

// The options of a conversion's command line, read by the option table.
Options optionsOf(const Arguments& arguments) {
  Options options;
  options.playlist = arguments.operands().front();
  if (arguments.given("-o")) options.output = arguments.text("-o");
  options.start = arguments.clock("--start");
  options.playlistOnly = arguments.given("--playlist-only");
  options.raw = arguments.given("--raw");
  options.recording = recordingOptions(arguments);
  options.cleaning = TitleCleaning(arguments);
  return options;
}

// Where the output goes, as its messages name it.
std::string target(const Options& options) {
  return options.output ? *options.output : "standard output";
}

// The output, opened with the first track, so that a set without any writes nothing.
class Output {
 public:
  explicit Output(const Options& options) : options_(options) {}

  Status begin(Format* format) {
    if (!options_.output) {
      file_.openStandardOutput();
    } else if (Status opened = file_.open(platform::followLinks(*options_.output)); !opened) {
      // A symbolic link stays a link: the file it points to is replaced.
      return failure(opened.error());
    }
    opened_ = true;
    buffer_.reserve(kWriteSize + 4096);
    format->begin(&buffer_);
    return {};
  }

  // Writes the buffer once it is full, or whatever it holds when `all`.
  Status write(bool all = false) {
    if (!all && buffer_.size() < kWriteSize) return {};
    if (Status written = file_.write(buffer_); !written) return failure(written.error());
    buffer_.clear();
    return {};
  }

  Status commit() {
    Status committed = file_.commit();
    return committed ? committed : failure(committed.error());
  }

  bool opened() const { return opened_; }
  std::string* buffer() { return &buffer_; }

 private:
  // The failure named after the user's file, never a temporary one.
  Error failure(const Error& err) const {
    return Error{err.code, "cannot write " + target(options_), err.text};
  }

  const Options& options_;
  platform::OutputFile file_;
  std::string buffer_;
  bool opened_ = false;
};

// Writes the tracks of the set with `format`. A stop leaves the output unwritten: the
// caller asks set.stopped().
Status convert(const Options& options, SetReader& set, Format* format) {
  Output output(options);
  Status written;
  const Status read = set.read([&](const Record& record) {
    if (!output.opened() && !(written = output.begin(format))) return false;
    // A copy only when cleaning: the plain forms stream every record as it is read.
    if (options.cleaning.on()) {
      format->record(options.cleaning.record(record), output.buffer());
    } else {
      format->record(record, output.buffer());
    }
    return (written = output.write()).ok();
  });
  if (!read) return read;
  if (!written) return written;
  if (set.stopped()) return {};
  if (set.tracks() == 0) return nothingToPublish(options.playlist, set);
  format->end(output.buffer());
  if (Status last = output.write(true); !last) return last;
  return output.commit();
}

// Refuses an output that is one of the files read, by identity, so that "./P.txt" or a
// link to it count too.
Status refuseOwnInput(const Options& options) {
  if (!options.output) return {};
  // The set log beside the playlist is refused even when it is not read (--playlist-only).
  for (const std::string& input : {options.playlist, setLogFileName(options.playlist)}) {
    if (!input.empty() && platform::sameFilePath(input, *options.output)) {
      return platform::makeError("", "-o " + *options.output + " is the same file as " + input +
                                         ": it would be destroyed; write to another file");
    }
  }
  return {};
}

// Opens the set (see SetReader::open). `counts`: the form needs the number of tracks and
// their times before the first track.
Status openSet(const Options& options, bool counts, SetReader* set) {
  if (Status refused = refuseOwnInput(options); !refused) return refused;
  // A file output must not leave its temporary file behind when interrupted; standard
  // output keeps the usual ends (Ctrl-C, a closed pipe).
  if (options.output) platform::installStopHandler();
  if (Status opened = set->open(options.playlist, options.playlistOnly, counts); !opened) {
    return opened;
  }
  if (!set->stopped() && set->counted() && set->tracks() == 0) {
    return nothingToPublish(options.playlist, *set);
  }
  return {};
}

// Converts an opened set; the exit status.
int convertSet(const Options& options, SetReader& set, Format* format) {
  if (set.stopped()) {
    platform::reportError("stopped");
    return kStatusStopped;
  }
  if (Status converted = convert(options, set, format); !converted) {
    return failed(converted.error());
  }
  if (set.stopped()) {
    platform::reportError("stopped; " + target(options) + " was not written");
    return kStatusStopped;
  }
  return kStatusOk;
}

std::unique_ptr<Format> makeFormat(Form form, const Options& options, const SetReader& set) {
  switch (form) {
    case Form::kTracklist:
      return std::make_unique<TracklistFormat>(options.start);
    case Form::kCsv:
      return std::make_unique<CsvFormat>(!options.raw);
    case Form::kJson:
      return std::make_unique<JsonFormat>();
    case Form::kHtml:
      return std::make_unique<HtmlFormat>(set.firstTime(), set.lastTime(), set.tracks());
    case Form::kRecording:
      break;  // runRecording's
  }
  return nullptr;
}

int run(int argc, char** argv, Form form) {
  const Arguments arguments = readCommandLine(argv[0], argc, argv);
  if (!arguments.runs()) return arguments.report();
  const Options options = optionsOf(arguments);
  SetReader set;
  if (Status opened = openSet(options, form == Form::kHtml, &set); !opened) {
    return failed(opened.error());
  }
  const std::unique_ptr<Format> format = makeFormat(form, options, set);
  const int status = convertSet(options, set, format.get());
  const auto* tracklist = dynamic_cast<const TracklistFormat*>(format.get());
  if (status == kStatusOk && tracklist && tracklist->startAfterFirst()) {
    platform::reportWarning("--start is after the first track of " + options.playlist +
                            "; the tracks before it are timed 00:00:00");
  }
  return status;
}

}  // namespace

int runTracklist(int argc, char** argv) { return run(argc, argv, Form::kTracklist); }
int runCsv(int argc, char** argv) { return run(argc, argv, Form::kCsv); }
int runJson(int argc, char** argv) { return run(argc, argv, Form::kJson); }
int runHtml(int argc, char** argv) { return run(argc, argv, Form::kHtml); }

namespace {

// The warnings about where the tracks of a recording were placed.
void warnAboutPoints(const Options& options, const RecordingFormat& format) {
  const RecordingPoints& points = format.points();
  if (points.startAfterFirst()) {
    platform::reportWarning("--start is after the first track of " + options.playlist +
                            "; the tracks before it are placed at its start");
  }
  if (points.withoutLoaded() > 0) {
    platform::reportWarning(platform::makeError(
        options.playlist, std::to_string(points.withoutLoaded()) +
                              (points.withoutLoaded() == 1 ? " track has" : " tracks have") +
                              " no loaded time in the set log; placed at the logged time"));
  }
  if (points.movedUp() > 0) {
    platform::reportWarning(platform::makeError(
        options.playlist,
        std::to_string(points.movedUp()) +
            (points.movedUp() == 1 ? " track falls" : " tracks fall") +
            " before the track before it in the recording, and was moved up to it"));
  }
  const auto* chapters = dynamic_cast<const ChaptersFormat*>(&format);
  if (chapters && chapters->endBeforeLast()) {
    platform::reportWarning(
        "--end is before the last chapter's start once shifted; it ends where it begins");
  }
}

// cue and chapters: the set is read once to count its tracks, then converted up to where
// that reading ended.
int runRecording(int argc, char** argv) {
  const Arguments arguments = readCommandLine(argv[0], argc, argv);
  if (!arguments.runs()) return arguments.report();
  const Options options = optionsOf(arguments);
  const RecordingOptions& recording = options.recording;
  if (Status named = checkCueAudio(recording.audio); !named) {
    return usageError(named.error(), argv[0]);
  }
  SetReader set;
  if (Status opened = openSet(options, true, &set); !opened) return failed(opened.error());
  if (!set.stopped() && recording.at == PointTime::kLoaded && !set.setLogRead()) {
    return usageError(wrongCommandLine("--at loaded needs the set log (.jsonl) beside " +
                                       options.playlist + ", and none was read"),
                      argv[0]);
  }
  if (!set.stopped() && recording.end && endsBeforeLast(*recording.end, set.lastTime())) {
    std::string last;
    appendIsoDateTime(set.lastTime(), &last);
    return usageError(
        wrongCommandLine("--end is before the last track of " + options.playlist + ", logged at " +
                         last + "; give the time the recording ended"),
        argv[0]);
  }
  if (!set.stopped() && recording.cue && set.tracks() > kCueMostTracks) {
    return failed(platform::makeError(
        "", options.playlist + " holds " + std::to_string(set.tracks()) +
                " tracks, and a CUE sheet holds at most 99: split the recording and the "
                "playlist, and write a sheet for each part (see README)"));
  }
  std::unique_ptr<RecordingFormat> format;
  if (recording.cue) {
    format = std::make_unique<CueFormat>(*options.start, recording);
  } else {
    format = std::make_unique<ChaptersFormat>(*options.start, recording);
  }
  const int status = convertSet(options, set, format.get());
  if (status == kStatusOk) warnAboutPoints(options, *format);
  return status;
}

}  // namespace

int runCue(int argc, char** argv) { return runRecording(argc, argv); }
int runChapters(int argc, char** argv) { return runRecording(argc, argv); }
