// The conversions: tracklist, csv, json and html. Each reads the set once to check it and
// count its tracks, then again to write its output as it goes, to standard output or, with
// -o, to a new version of a file that replaces the old one only once it is complete.
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_identity.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "setlist/commands.h"
#include "setlist/formats.h"
#include "setlist/recording.h"
#include "setlist/set_reader.h"
#include "tracker/set_log.h"

namespace {

// Output is handed to the system in parts of about this size.
constexpr std::size_t kWriteSize = 64 * 1024;

enum class Form { kTracklist, kCsv, kJson, kHtml, kRecording };

struct Options {
  std::string playlist;
  std::optional<std::string> output;
  std::optional<int> start;  // seconds after midnight
  bool playlistOnly = false;
  bool raw = false;  // CSV cells without the formula guard
};

// Reads the command line into *options; an exit status when the run ends here.
// `recording` takes the further options of cue and chapters.
std::optional<int> parseOptions(int argc, char** argv, Form form, Options* options,
                                RecordingOptions* recording = nullptr) {
  const bool takesStart = form == Form::kTracklist || form == Form::kRecording;
  bool havePlaylist = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (option && arg == "--") {
      optionsEnded = true;
    } else if (option && (arg == "--help" || arg == "-h")) {
      printHelp();
      return kStatusOk;
    } else if (option && arg == "--playlist-only") {
      options->playlistOnly = true;
    } else if (option && form == Form::kCsv && arg == "--raw") {
      options->raw = true;
    } else if (option && (arg == "-o" || (takesStart && arg == "--start"))) {
      if (i + 1 == argc) return usageError(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      if (arg == "-o") {
        if (options->output || value.empty()) return usageError("-o takes one file name");
        options->output = std::string(value);
      } else if (!(options->start = parseClock(value))) {
        return usageError("--start takes a clock time HH:MM:SS, not '" + std::string(value) + "'");
      }
    } else if (option && recording && recordingOption(*recording, arg) != OptionArity::kNone) {
      std::string_view value;
      if (recordingOption(*recording, arg) == OptionArity::kValue) {
        if (i + 1 == argc) return usageError(std::string(arg) + " needs a value");
        value = argv[++i];
      }
      if (const auto message = takeRecordingOption(arg, value, recording)) {
        return usageError(*message);
      }
    } else if (option) {
      return unknownOption(argv[0], arg);
    } else if (havePlaylist) {
      return usageError("one PLAYLIST only");
    } else {
      options->playlist = arg;
      havePlaylist = true;
    }
  }
  if (!havePlaylist) return usageError(std::string(argv[0]) + " needs a PLAYLIST");
  return std::nullopt;
}

void fail(const std::string& what, const platform::Error& err) {
  std::cerr << "setlist: " << what << ": " << err.text << "\n";
}

int refuseEmpty(const std::string& path, const SetReader& set) {
  if (set.bytes() == 0) {
    std::cerr << "setlist: " << path << " is empty: it holds no records to convert\n";
  } else if (set.records() == 0) {
    std::cerr << "setlist: " << path << " holds no records: it is not a playlist of the tracker\n";
  } else {
    std::cerr << "setlist: " << path << " holds only empty tracks: there is nothing to publish\n";
  }
  return kStatusFailed;
}

// Writes the tracks of the set with `format`. Output begins with the first track, so that
// a set without any writes nothing.
int convert(const Options& options, SetReader& set, Format* format) {
  platform::OutputFile output;
  platform::Error err;
  std::string buffer;
  bool opened = false;
  bool writeFailed = false;
  const std::string target = options.output ? *options.output : "standard output";
  const bool read = set.read([&](const Record& record) {
    if (!opened) {
      if (!options.output) {
        output.openStandardOutput();
      } else if (!output.open(platform::followLinks(*options.output), &err)) {
        // A symbolic link stays a link: the file it points to is replaced.
        writeFailed = true;
        return false;
      }
      opened = true;
      buffer.reserve(kWriteSize + 4096);
      format->begin(&buffer);
    }
    format->record(record, &buffer);
    if (buffer.size() >= kWriteSize) {
      if (!output.write(buffer, &err)) {
        writeFailed = true;
        return false;
      }
      buffer.clear();
    }
    return true;
  });
  if (!read) return kStatusFailed;
  if (set.stopped()) {
    std::cerr << "setlist: stopped; " << target << " was not written\n";
    return kStatusStopped;
  }
  if (!writeFailed && set.tracks() == 0) return refuseEmpty(options.playlist, set);
  if (!writeFailed) {
    format->end(&buffer);
    writeFailed = !output.write(buffer, &err) || !output.commit(&err);
  }
  if (writeFailed) {
    fail("cannot write " + target, err);
    return kStatusFailed;
  }
  return kStatusOk;
}

// Refuses an output that is one of the files read, by identity, so that "./P.txt" or a
// hard link to it count too.
std::optional<int> refuseOwnInput(const Options& options) {
  platform::FileStatus output;
  if (!options.output ||
      platform::statPath(*options.output, &output, nullptr) != platform::StatResult::kFound) {
    return std::nullopt;
  }
  // The set log beside the playlist is refused even when it is not read (--playlist-only).
  const std::string inputs[] = {options.playlist, setLogBeside(options.playlist)};
  for (const std::string& input : inputs) {
    platform::FileStatus status;
    if (!input.empty() &&
        platform::statPath(input, &status, nullptr) == platform::StatResult::kFound &&
        platform::sameFile(status, output)) {
      std::cerr << "setlist: -o " << *options.output << " is the same file as " << input
                << ": it would be destroyed; write to another file\n";
      return kStatusFailed;
    }
  }
  return std::nullopt;
}

// Opens the set (see SetReader::open); an exit status when the run ends here. `counts`:
// the form needs the number of tracks and their times before the first track.
std::optional<int> openSet(const Options& options, bool counts, SetReader* set) {
  if (const auto status = refuseOwnInput(options)) return status;
  // A file output must not leave its temporary file behind when interrupted; standard
  // output keeps the usual ends (Ctrl-C, a closed pipe).
  if (options.output) platform::installStopHandler();
  if (!set->open(options.playlist, options.playlistOnly, counts)) return kStatusFailed;
  if (set->stopped()) {
    std::cerr << "setlist: stopped\n";
    return kStatusStopped;
  }
  if (set->counted() && set->tracks() == 0) return refuseEmpty(options.playlist, *set);
  return std::nullopt;
}

int run(int argc, char** argv, Form form) {
  Options options;
  if (const auto status = parseOptions(argc, argv, form, &options)) return *status;
  SetReader set;
  if (const auto status = openSet(options, form == Form::kHtml, &set)) return *status;

  std::unique_ptr<Format> format;
  TracklistFormat* tracklist = nullptr;
  switch (form) {
    case Form::kTracklist:
      format = std::make_unique<TracklistFormat>(options.start);
      tracklist = static_cast<TracklistFormat*>(format.get());
      break;
    case Form::kCsv:
      format = std::make_unique<CsvFormat>(!options.raw);
      break;
    case Form::kJson:
      format = std::make_unique<JsonFormat>();
      break;
    case Form::kHtml:
      format = std::make_unique<HtmlFormat>(set.firstTime(), set.lastTime(), set.tracks());
      break;
    case Form::kRecording:
      return kStatusUsage;  // runRecording's
  }
  const int status = convert(options, set, format.get());
  if (status == kStatusOk && tracklist && tracklist->startAfterFirst()) {
    std::cerr << "setlist: warning: --start is after the first track of " << options.playlist
              << "; the tracks before it are timed 00:00:00\n";
  }
  return status;
}

}  // namespace

int runTracklist(int argc, char** argv) { return run(argc, argv, Form::kTracklist); }
int runCsv(int argc, char** argv) { return run(argc, argv, Form::kCsv); }
int runJson(int argc, char** argv) { return run(argc, argv, Form::kJson); }
int runHtml(int argc, char** argv) { return run(argc, argv, Form::kHtml); }

namespace {

// cue and chapters: the set is read once to count its tracks, then converted up to where
// that reading ended.
int runRecording(int argc, char** argv, RecordingOptions recording) {
  Options options;
  if (const auto status = parseOptions(argc, argv, Form::kRecording, &options, &recording)) {
    return *status;
  }
  if (!options.start) return usageError(std::string(argv[0]) + " needs --start HH:MM:SS");
  if (recording.cue && recording.audio.empty()) return usageError("cue needs --audio FILE");
  SetReader set;
  if (const auto status = openSet(options, true, &set)) return *status;
  if (recording.at == PointTime::kLoaded && !set.setLogRead()) {
    return usageError("--at loaded needs the set log (.jsonl) beside " + options.playlist +
                      ", and none was read");
  }
  if (recording.end && endsBeforeLast(*recording.end, set.lastTime())) {
    std::string last;
    appendIsoDateTime(set.lastTime(), &last);
    return usageError("--end is before the last track of " + options.playlist + ", logged at " +
                      last + "; give the time the recording ended");
  }
  if (recording.cue && set.tracks() > kCueMostTracks) {
    std::cerr << "setlist: " << options.playlist << " holds " << set.tracks()
              << " tracks, and a CUE sheet holds at most 99: split the recording and the "
                 "playlist, and write a sheet for each part (see README)\n";
    return kStatusFailed;
  }

  std::unique_ptr<RecordingFormat> format;
  ChaptersFormat* chapters = nullptr;
  if (recording.cue) {
    format = std::make_unique<CueFormat>(*options.start, recording);
  } else {
    format = std::make_unique<ChaptersFormat>(*options.start, recording);
    chapters = static_cast<ChaptersFormat*>(format.get());
  }
  const int status = convert(options, set, format.get());
  if (status != kStatusOk) return status;
  const RecordingPoints& points = format->points();
  if (points.startAfterFirst()) {
    std::cerr << "setlist: warning: --start is after the first track of " << options.playlist
              << "; the tracks before it are placed at its start\n";
  }
  if (points.withoutLoaded() > 0) {
    std::cerr << "setlist: warning: " << options.playlist << ": " << points.withoutLoaded()
              << (points.withoutLoaded() == 1 ? " track has" : " tracks have")
              << " no loaded time in the set log; placed at the logged time\n";
  }
  if (points.movedUp() > 0) {
    std::cerr << "setlist: warning: " << options.playlist << ": " << points.movedUp()
              << (points.movedUp() == 1 ? " track falls" : " tracks fall")
              << " before the track before it in the recording, and was moved up to it\n";
  }
  if (chapters && chapters->endBeforeLast()) {
    std::cerr << "setlist: warning: --end is before the last chapter's start once shifted; it "
                 "ends where it begins\n";
  }
  return kStatusOk;
}

}  // namespace

int runCue(int argc, char** argv) { return runRecording(argc, argv, RecordingOptions{}); }

int runChapters(int argc, char** argv) {
  RecordingOptions recording;
  recording.cue = false;
  return runRecording(argc, argv, recording);
}
