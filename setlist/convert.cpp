// The conversions: tracklist, csv, json and html. Each reads a playlist as a stream and
// writes its output as it goes, to standard output or, with -o, to a new version of a
// file that replaces the old one only once it is complete.
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "platform/output_file.h"
#include "platform/platform.h"
#include "setlist/commands.h"
#include "setlist/formats.h"
#include "setlist/playlist_reader.h"
#include "setlist/recording.h"

namespace {

// Output is handed to the system in parts of about this size.
constexpr std::size_t kWriteSize = 64 * 1024;
// Lines that are not records are named one by one up to this count, then counted.
constexpr std::uint64_t kNamedSkips = 10;

struct Options {
  std::string playlist;
  std::optional<std::string> output;
  std::optional<int> start;  // seconds after midnight
};

// Reads the command line into *options; an exit status when the run ends here.
// `recording` takes the further options of cue and chapters.
std::optional<int> parseOptions(int argc, char** argv, bool takesStart, Options* options,
                                RecordingOptions* recording = nullptr) {
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
      return usageError("unknown option '" + std::string(arg) + "' for " + argv[0]);
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

// What reading a playlist found.
struct Scan {
  std::uint64_t records = 0;
  std::uint64_t ambiguous = 0;
  std::uint64_t skipped = 0;
  std::uint64_t bytes = 0;
  std::tm first{};
  std::tm last{};
  bool stopped = false;
};

// Reads the playlist up to `limit` bytes and hands each record to `each` until it returns
// false. Names the lines that are not records on stderr when `warn` is set. False when the
// file cannot be read.
bool readPlaylist(const std::string& path, std::uint64_t limit, bool warn, Scan* scan,
                  const std::function<bool(const Record&)>& each) {
  PlaylistReader reader;
  platform::Error err;
  if (!reader.open(path, &err)) {
    fail("cannot read the playlist", err);
    return false;
  }
  reader.limit(limit);
  Record record;
  for (;;) {
    const PlaylistReader::Result result = reader.next(&record, &err);
    scan->bytes = reader.bytesRead();
    if (result == PlaylistReader::Result::kEnd) return true;
    if (result == PlaylistReader::Result::kFailed) {
      fail("cannot read the playlist", err);
      return false;
    }
    if (platform::StopRequested()) {
      scan->stopped = true;
      return true;
    }
    if (result == PlaylistReader::Result::kSkipped) {
      if (warn && ++scan->skipped <= kNamedSkips) {
        std::cerr << "setlist: warning: " << path << ":" << reader.line()
                  << ": not a record, skipped\n";
      }
      continue;
    }
    if (scan->records++ == 0) scan->first = record.time;
    scan->last = record.time;
    if (record.ambiguous) ++scan->ambiguous;
    if (!each(record)) return true;
  }
}

void warnAfterReading(const std::string& path, const Scan& scan) {
  if (scan.skipped > kNamedSkips) {
    std::cerr << "setlist: warning: " << path << ": " << scan.skipped - kNamedSkips
              << " more lines that are not records skipped\n";
  }
  if (scan.ambiguous > 0) {
    std::cerr << "setlist: warning: " << path << ": " << scan.ambiguous
              << (scan.ambiguous == 1 ? " record holds" : " records hold")
              << " more '\";\"' separators than three texts need; the artist was read up to the "
                 "first and the album from the last\n";
  }
}

int refuseEmpty(const std::string& path, const Scan& scan) {
  if (scan.bytes == 0) {
    std::cerr << "setlist: " << path << " is empty: it holds no records to convert\n";
  } else {
    std::cerr << "setlist: " << path << " holds no records: it is not a playlist of the tracker\n";
  }
  return kStatusFailed;
}

// Converts the records of the first `limit` bytes of the playlist with `format`.
int convert(const Options& options, Format* format, std::uint64_t limit, bool warn) {
  platform::OutputFile output;
  platform::Error err;
  std::string buffer;
  buffer.reserve(kWriteSize + 4096);
  bool opened = false;
  bool writeFailed = false;
  const std::string target = options.output ? *options.output : "standard output";
  // Output begins with the first record, so that a file without any writes nothing.
  const auto each = [&](const Record& record) {
    if (!opened) {
      if (options.output) {
        if (!output.Open(*options.output, &err)) {
          writeFailed = true;
          return false;
        }
      } else {
        output.OpenStandardOutput();
      }
      opened = true;
      format->begin(&buffer);
    }
    format->record(record, &buffer);
    if (buffer.size() >= kWriteSize) {
      if (!output.Write(buffer, &err)) {
        writeFailed = true;
        return false;
      }
      buffer.clear();
    }
    return true;
  };

  Scan scan;
  if (!readPlaylist(options.playlist, limit, warn, &scan, each)) return kStatusFailed;
  if (scan.stopped) {
    std::cerr << "setlist: stopped; " << target << " was not written\n";
    return kStatusStopped;
  }
  if (warn) warnAfterReading(options.playlist, scan);
  if (!writeFailed && scan.records == 0) return refuseEmpty(options.playlist, scan);
  if (!writeFailed) {
    format->end(&buffer);
    writeFailed = !output.Write(buffer, &err) || !output.Commit(&err);
  }
  if (writeFailed) {
    fail("cannot write " + target, err);
    return kStatusFailed;
  }
  return kStatusOk;
}

// Runs a conversion whose format needs nothing but the records.
int runSimple(int argc, char** argv, bool takesStart,
              const std::function<int(const Options&)>& run) {
  Options options;
  if (const auto status = parseOptions(argc, argv, takesStart, &options)) return *status;
  // A file output must not leave its temporary file behind when interrupted; standard
  // output keeps the usual ends (Ctrl-C, a closed pipe).
  if (options.output) platform::InstallStopHandler();
  return run(options);
}

}  // namespace

int runTracklist(int argc, char** argv) {
  return runSimple(argc, argv, true, [](const Options& options) {
    TracklistFormat format(options.start);
    return convert(options, &format, UINT64_MAX, true);
  });
}

int runCsv(int argc, char** argv) {
  return runSimple(argc, argv, false, [](const Options& options) {
    CsvFormat format;
    return convert(options, &format, UINT64_MAX, true);
  });
}

int runJson(int argc, char** argv) {
  return runSimple(argc, argv, false, [](const Options& options) {
    JsonFormat format;
    return convert(options, &format, UINT64_MAX, true);
  });
}

int runHtml(int argc, char** argv) {
  // The heading names the first and last times before the table, so the playlist is read
  // twice: for the heading, then for the table. The second reading stops where the first
  // ended, so that a playlist the tracker is still appending to gives a consistent page.
  return runSimple(argc, argv, false, [](const Options& options) {
    Scan scan;
    if (!readPlaylist(options.playlist, UINT64_MAX, true, &scan,
                      [](const Record&) { return !platform::StopRequested(); })) {
      return kStatusFailed;
    }
    if (scan.stopped || platform::StopRequested()) {
      std::cerr << "setlist: stopped\n";
      return kStatusStopped;
    }
    warnAfterReading(options.playlist, scan);
    if (scan.records == 0) return refuseEmpty(options.playlist, scan);
    HtmlFormat format(scan.first, scan.last, scan.records);
    return convert(options, &format, scan.bytes, false);
  });
}

namespace {

// cue and chapters: the set is read once to count its tracks, then converted up to where
// that reading ended, as for html.
int runRecording(int argc, char** argv, RecordingOptions recording) {
  Options options;
  if (const auto status = parseOptions(argc, argv, true, &options, &recording)) return *status;
  if (!options.start) return usageError(std::string(argv[0]) + " needs --start HH:MM:SS");
  if (recording.cue && recording.audio.empty()) return usageError("cue needs --audio FILE");
  if (options.output) platform::InstallStopHandler();

  Scan scan;
  std::uint64_t tracks = 0;
  if (!readPlaylist(options.playlist, UINT64_MAX, true, &scan, [&](const Record& record) {
        tracks += isEmptyTrack(record) ? 0 : 1;
        return !platform::StopRequested();
      })) {
    return kStatusFailed;
  }
  if (scan.stopped || platform::StopRequested()) {
    std::cerr << "setlist: stopped\n";
    return kStatusStopped;
  }
  if (recording.at == PointTime::kLoaded) {
    return usageError("--at loaded needs the set log (.jsonl) beside " + options.playlist +
                      ", and none was read");
  }
  warnAfterReading(options.playlist, scan);
  if (scan.records == 0) return refuseEmpty(options.playlist, scan);
  if (recording.cue && tracks > kCueMostTracks) {
    std::cerr << "setlist: " << options.playlist << " holds " << tracks
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
  const int status = convert(options, format.get(), scan.bytes, false);
  if (status != kStatusOk) return status;
  const RecordingPoints& points = format->points();
  if (points.startAfterFirst()) {
    std::cerr << "setlist: warning: " << options.playlist
              << ": the recording's start is after the first track\n";
  }
  if (points.movedUp() > 0) {
    std::cerr << "setlist: warning: " << options.playlist << ": " << points.movedUp()
              << (points.movedUp() == 1 ? " track falls" : " tracks fall")
              << " before the track before it in the recording, and was moved up to it\n";
  }
  if (chapters && chapters->endBeforeLast()) {
    std::cerr << "setlist: warning: --end is before the last track; its chapter ends where it "
                 "begins\n";
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
