// setlist live: follows the decks of the DJ application as the tracker does, keeping every
// character, and shows the track on air and the one before it in files and, with --serve,
// on a web page and to chat bots, and with --twitch in the channel's Twitch chat,
// optionally a fixed time after each track was decided.
// The parts: the poller (live_poller.h), the delay line (delay_line.h) and the outputs
// (live_outputs.h); this file reads the command line and runs the loop that joins them.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "live/chat.h"
#include "live/commands.h"
#include "live/delay_line.h"
#include "live/live_outputs.h"
#include "live/live_poller.h"
#include "live/live_server.h"
#include "live/live_texts.h"
#include "platform/file_identity.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/track_rules.h"
#include "setfile/clock.h"
#include "tracker/console.h"
#include "tracker/conversion.h"

namespace {

using platform::Expected;
using platform::Status;

using Clock = std::chrono::steady_clock;

constexpr auto kPollPeriod = std::chrono::milliseconds(1000);
constexpr int kLongestDelay = 600;  // seconds

struct LiveOptions {
  bool help = false;  // --help: the usage text and nothing else
  RunSettings settings;
  std::string nowPlaying;
  std::string previous;
  std::string html;
  std::string format = "{artist} - {song}";
  int delaySeconds = 0;
  std::optional<ServeAddress> serve;
  std::vector<std::string> allowedHosts;
  bool rules = false;  // warn of loads that would break a track rule
  ChatOptions chat;
  bool chatOptionGiven = false;  // --announce, --cooldown, --twitch-url or --accounts
};

// Reads a whole number of seconds from 0 to kLongestDelay.
std::optional<int> parseDelay(const std::string& text) {
  const std::optional<int> seconds = parseInt(text);
  if (!seconds || text.find_first_not_of("0123456789") != std::string::npos ||
      *seconds > kLongestDelay) {
    return std::nullopt;
  }
  return seconds;
}

// Two options that name one file would overwrite each other's text.
Status checkDistinctPaths(const LiveOptions& options) {
  const std::pair<const char*, const std::string*> files[] = {
      {"--now-playing", &options.nowPlaying},
      {"--previous", &options.previous},
      {"--html", &options.html}};
  for (std::size_t i = 0; i < std::size(files); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const std::string& path = *files[i].second;
      const std::string& other = *files[j].second;
      if (!path.empty() && !other.empty() && platform::sameFilePath(other, path)) {
        return wrongCommandLine(std::string(files[j].first) + " and " + files[i].first +
                                " both name " + path);
      }
    }
  }
  return {};
}

// Takes an option and its value.
Status takeOption(const std::string& arg, const std::string& value, LiveOptions* options) {
  if (arg == "-s" || arg == "--simple") {
    // The tracker's own reading, so that a threshold means the same in both programs.
    const std::optional<RunSettings> settings = simpleModeSettings(value);
    if (!settings)
      return wrongCommandLine("the threshold is a whole number of seconds, at least 1");
    options->settings = *settings;
  } else if (arg == "--delay") {
    const std::optional<int> seconds = parseDelay(value);
    if (!seconds)
      return wrongCommandLine("--delay takes whole seconds from 0 to 600, not " + value);
    options->delaySeconds = *seconds;
  } else if (arg == "--serve") {
    options->serve = parseServeAddress(value);
    if (!options->serve) {
      return wrongCommandLine("--serve takes [ADDRESS:]PORT, such as 8040 or 0.0.0.0:8040, not " +
                              value);
    }
  } else if (arg == "--allow-host") {
    if (value.empty() || value.find_first_of(":/[] ") != std::string::npos) {
      return wrongCommandLine("--allow-host takes a host name, such as djlaptop.lan, not " + value);
    }
    options->allowedHosts.push_back(value);
  } else if (value.empty()) {
    return wrongCommandLine(arg + " needs a value");
  } else if (arg == "--now-playing") {
    options->nowPlaying = value;
  } else if (arg == "--previous") {
    options->previous = value;
  } else if (arg == "--html") {
    options->html = value;
  } else {
    options->format = value;
  }
  return {};
}

// Reads the command line.
Expected<LiveOptions> parseLiveOptions(int argc, char** argv) {
  LiveOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg == "--rules") {
      options.rules = true;
      continue;
    }
    if (arg == "--announce" || arg == "--cooldown" || arg == "--twitch-url" ||
        arg == "--accounts") {
      options.chatOptionGiven = true;
    }
    if (arg == "--announce") {
      options.chat.announce = true;
      continue;
    }
    if (isChatOption(arg)) {
      if (i + 1 == argc) return wrongCommandLine(arg + " needs a value");
      if (Status taken = setChatOption(arg, argv[++i], &options.chat); !taken) return taken.error();
      continue;
    }
    if (arg != "-s" && arg != "--simple" && arg != "--now-playing" && arg != "--previous" &&
        arg != "--format" && arg != "--html" && arg != "--delay" && arg != "--serve" &&
        arg != "--allow-host") {
      if (arg.size() > 1 && arg[0] == '-') return unknownOption("live", arg);
      return wrongCommandLine("live takes no argument '" + arg + "'");
    }
    if (i + 1 == argc) return wrongCommandLine(arg + " needs a value");
    if (Status taken = takeOption(arg, argv[++i], &options); !taken) return taken.error();
  }
  if (!options.allowedHosts.empty() && !options.serve) {
    return wrongCommandLine("--allow-host is for --serve");
  }
  if (options.chatOptionGiven && options.chat.channel.empty()) {
    return wrongCommandLine("--announce, --cooldown and --twitch-url go with --twitch CHANNEL");
  }
  if (const std::string fault = formatFault(options.format); !fault.empty()) {
    return wrongCommandLine("--format: " + fault);
  }
  if (Status distinct = checkDistinctPaths(options); !distinct) return distinct.error();
  return options;
}

// Polls once a second and shows each decided track once its delay has passed, until a
// stop is requested.
void follow(const LiveOptions& options, LiveOutputs& outputs) {
  LivePoller poller(options.settings);
  DelayLine<ShownTrack> waiting{std::chrono::seconds(options.delaySeconds)};
  LoadWarnings loadWarnings;
  if (options.rules) {
    poller.watchDecks([&](const Track& left, const Track& right, const PollReports& reports) {
      warnOfLoads(loadWarnings, left, right, reports);
    });
  }
  Clock::time_point nextPoll = Clock::now();
  while (!platform::stopRequested()) {
    if (Clock::now() >= nextPoll) {
      const Clock::time_point decided = Clock::now();
      nextPoll = decided + kPollPeriod;
      for (LivePoller::Played& played : poller.poll()) {
        std::cout << trackReport(played.deck, played.track) << std::flush;
        std::string text = formatTrack(options.format, played.deck, played.track);
        waiting.push(decided,
                     {played.deck, std::move(played.track), isoTimeNow(), std::move(text)});
      }
      outputs.writePending();
    }
    while (std::optional<ShownTrack> due = waiting.takeDue(Clock::now())) {
      outputs.add(std::move(*due));
    }
    const Clock::time_point wake = std::min(nextPoll, waiting.nextDue().value_or(nextPoll));
    const auto sleep = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    if (sleep.count() > 0) platform::sleepMilliseconds(static_cast<int>(sleep.count()));
  }
}

}  // namespace

int runLive(int argc, char** argv) {
  const Expected<LiveOptions> options = parseLiveOptions(argc, argv);
  if (!options) return usageError(options.error());
  if (options->help) {
    printHelp();
    return kStatusOk;
  }
  platform::installStopHandler();
  LiveOutputs outputs(options->nowPlaying, options->previous, options->html);
  if (Status writable = outputs.checkWritable(); !writable) return failed(writable.error());
  // The port first: a port in use ends the run before the chat logs in.
  if (options->serve) {
    Status serving = outputs.serve(*options->serve, options->allowedHosts);
    if (!serving) return failed(serving.error());
  }
  if (!options->chat.channel.empty()) {
    int status = kStatusOk;
    std::unique_ptr<TwitchChat> chat = startTwitchChat(options->chat, &status);
    if (!chat) return status;
    outputs.chatWith(std::move(chat));
  }
  outputs.show();  // blank, so nothing of an earlier run stays on the stream
  follow(*options, outputs);
  platform::reportProgress("stopped");
  return kStatusOk;
}
