// setlist live: follows the decks of the DJ application as the tracker does, keeping every
// character, and shows the track on air and the one before it in files and, with --serve,
// on a web page and to chat bots, optionally a fixed time after each track was decided.
#include "setlist/live.h"

#include <chrono>
#include <ctime>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "platform/platform.h"
#include "setlist/chat.h"
#include "setlist/commands.h"
#include "setlist/live_server.h"
#include "tracker/console.h"
#include "tracker/conversion.h"
#include "tracker/deck_view.h"
#include "tracker/tracking.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollPeriod = std::chrono::milliseconds(1000);
constexpr int kLongestDelay = 600;  // seconds

struct LiveOptions {
  RunSettings settings;
  std::string nowPlaying;
  std::string previous;
  std::string html;
  std::string format = "{artist} - {song}";
  int delaySeconds = 0;
  std::optional<ServeAddress> serve;
  ChatOptions chat;
  bool chatOptionGiven = false;
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
std::optional<int> checkDistinctPaths(const LiveOptions& options) {
  const std::pair<const char*, const std::string*> files[] = {
      {"--now-playing", &options.nowPlaying},
      {"--previous", &options.previous},
      {"--html", &options.html}};
  std::vector<std::pair<const char*, std::filesystem::path>> seen;
  for (const auto& [option, path] : files) {
    if (path->empty()) continue;
    std::error_code ec;
    std::filesystem::path place = std::filesystem::absolute(*path, ec).lexically_normal();
    if (ec) place = *path;
    for (const auto& [other, otherPlace] : seen) {
      if (otherPlace == place) {
        return usageError(std::string(other) + " and " + option + " both name " + *path);
      }
    }
    seen.emplace_back(option, std::move(place));
  }
  return std::nullopt;
}

// Reads the command line into *options; an exit status when the run ends here.
std::optional<int> parseLiveOptions(int argc, char** argv, LiveOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return kStatusOk;
    }
    if (arg == "--announce" || arg == "--cooldown" || arg == "--twitch-url") {
      options->chatOptionGiven = true;
    }
    if (arg == "--announce") {
      options->chat.announce = true;
      continue;
    }
    if (isChatOption(arg)) {
      if (i + 1 == argc) return usageError(arg + " needs a value");
      const std::string fault = setChatOption(arg, argv[++i], &options->chat);
      if (!fault.empty()) return usageError(fault);
      continue;
    }
    if (arg != "-s" && arg != "--simple" && arg != "--now-playing" && arg != "--previous" &&
        arg != "--format" && arg != "--html" && arg != "--delay" && arg != "--serve") {
      if (arg.size() > 1 && arg[0] == '-') return unknownOption("live", arg);
      return usageError("live takes no argument '" + arg + "'");
    }
    if (i + 1 == argc) return usageError(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "-s" || arg == "--simple") {
      // The tracker's own reading, so that a threshold means the same in both programs.
      const char* const tracker[] = {"Zorvanthelix", arg.c_str(), value.c_str()};
      bool parsed = false;
      const std::optional<RunSettings> settings = parseCommandLine(3, tracker, &parsed);
      if (!settings) return usageError("the threshold is a whole number of seconds, at least 1");
      options->settings = *settings;
    } else if (arg == "--delay") {
      const std::optional<int> seconds = parseDelay(value);
      if (!seconds) return usageError("--delay takes whole seconds from 0 to 600, not " + value);
      options->delaySeconds = *seconds;
    } else if (arg == "--serve") {
      options->serve = parseServeAddress(value);
      if (!options->serve) {
        return usageError("--serve takes [ADDRESS:]PORT, such as 8040 or 0.0.0.0:8040, not " +
                          value);
      }
    } else if (value.empty()) {
      return usageError(arg + " needs a value");
    } else if (arg == "--now-playing") {
      options->nowPlaying = value;
    } else if (arg == "--previous") {
      options->previous = value;
    } else if (arg == "--html") {
      options->html = value;
    } else {
      options->format = value;
    }
  }
  if (options->chatOptionGiven && options->chat.channel.empty()) {
    return usageError("--announce, --cooldown and --twitch-url go with --twitch CHANNEL");
  }
  if (const std::string fault = formatFault(options->format); !fault.empty()) {
    return usageError("--format: " + fault);
  }
  return checkDistinctPaths(*options);
}

// A file that live keeps up to date. Its newest contents wait here until a write succeeds.
struct KeptFile {
  std::string path;
  std::string contents;
  bool pending = false;
  int failure = 0;  // the error code last told, so a lasting failure is told once
};

// Writes the file if its newest contents are not written yet. A failure is told on stderr
// and left for the next poll to try again.
void writePending(KeptFile& file) {
  if (!file.pending) return;
  platform::Error err;
  if (platform::replaceFileContents(file.path, file.contents, &err)) {
    if (file.failure != 0) std::cerr << "setlist: " << file.path << " is written again\n";
    file.pending = false;
    file.failure = 0;
  } else if (err.code != file.failure || err.code == 0) {
    std::cerr << "setlist: cannot write " << file.path << ": " << err.text
              << "; trying again at every poll\n";
    file.failure = err.code == 0 ? -1 : err.code;
  }
  std::cerr << std::flush;
}

// Every output of the run: the files, the server, and the tracks shown so far.
struct Outputs {
  KeptFile nowPlaying;
  KeptFile previous;
  KeptFile page;
  std::unique_ptr<LiveServer> server;
  std::unique_ptr<TwitchChat> chat;
  std::vector<ShownTrack> set;

  std::vector<KeptFile*> files() {
    std::vector<KeptFile*> given;
    for (KeptFile* file : {&nowPlaying, &previous, &page}) {
      if (!file->path.empty()) given.push_back(file);
    }
    return given;
  }

  // Shows the last track of the set as on air, and the one before it.
  void show() {
    const ShownTrack* onAir = set.empty() ? nullptr : &set.back();
    const ShownTrack* before = set.size() < 2 ? nullptr : &set[set.size() - 2];
    const std::string now = onAir != nullptr ? onAir->text : "";
    const std::string earlier = before != nullptr ? before->text : "";
    nowPlaying.contents = now;
    previous.contents = earlier;
    page.contents = overlayPage(now, earlier);
    for (KeptFile* file : files()) {
      file->pending = true;
      writePending(*file);
    }
    // The server starts with the blank state itself.
    if (server && onAir != nullptr)
      server->publish({nowPlayingJson(onAir, before), now, setJson(set)});
    if (chat) chat->show({now, earlier, set.size()});
  }
};

// Each output file's folder must exist and take a new file, or the stream would show
// nothing all night: a temporary file is created there and removed.
bool checkWritable(Outputs& outputs) {
  for (KeptFile* file : outputs.files()) {
    platform::OutputFile probe;
    platform::Error err;
    if (!probe.open(file->path, &err)) {
      std::cerr << "setlist: cannot write " << file->path << ": " << err.text << "\n";
      return false;
    }
    probe.discard();
  }
  return true;
}

bool startServer(const ServeAddress& address, Outputs& outputs) {
  std::string error;
  outputs.server = startLiveServer(address, servedOverlayPage(),
                                   {nowPlayingJson(nullptr, nullptr), "", setJson({})}, &error);
  if (!outputs.server) {
    std::cerr << "setlist: " << error << "\n";
    return false;
  }
  const std::string origin = outputs.server->origin();
  std::cout << "setlist: serving on " << address.host << ":" << address.port << "\n"
            << "  overlay page for a browser source: " << origin << "/\n"
            << "  for chat bots: " << origin << "/now-playing.txt and " << origin
            << "/now-playing.json\n"
            << "  the set so far: " << origin << "/set.json; events: " << origin << "/events\n";
  if (origin.find(address.host) == std::string::npos) {
    std::cout << "  from another computer: this computer's address instead of "
              << origin.substr(7, origin.rfind(':') - 7) << "\n";
  }
  std::cout << std::flush;
  return true;
}

// The DJ application's block, opened and mapped.
struct Block {
  const char* name = nullptr;
  platform::Handle handle;
  const char* view = nullptr;
};

// Opens and maps the block by either name. A block shorter than the view counts as not
// there yet.
Block connect() {
  for (const char* name : {kBlockName, kBlockNameAlternative}) {
    platform::Error err;
    platform::Handle handle = platform::openBlock(name, &err);
    if (!handle) continue;
    if (const char* view = platform::mapBlock(handle, kBlockSize, &err)) {
      std::cout << "setlist: connected to " << name << "\n" << std::flush;
      return {name, std::move(handle), view};
    }
  }
  return {};
}

void disconnect(Block& block) {
  platform::unmapBlock(block.view, kBlockSize);
  block = {};
}

std::string localTimeNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", local);
  }
  return text;
}

}  // namespace

int runLive(int argc, char** argv) {
  LiveOptions options;
  if (const std::optional<int> status = parseLiveOptions(argc, argv, &options)) return *status;
  platform::installStopHandler();
  Outputs outputs;
  outputs.nowPlaying.path = options.nowPlaying;
  outputs.previous.path = options.previous;
  outputs.page.path = options.html;
  if (!checkWritable(outputs)) return kStatusFailed;
  if (!options.chat.channel.empty()) {
    int status = kStatusOk;
    outputs.chat = startTwitchChat(options.chat, &status);
    if (!outputs.chat) return status;
  }
  if (options.serve && !startServer(*options.serve, outputs)) return kStatusFailed;
  outputs.show();  // blank, so nothing of an earlier run stays on the stream

  const auto delay = std::chrono::seconds(options.delaySeconds);
  // Tracks decided and the moment they are due to be shown, in order.
  std::deque<std::pair<Clock::time_point, ShownTrack>> waiting;
  Tracking tracking{options.settings, {}, {}};
  Block block;
  bool toldWaiting = false;
  Clock::time_point nextPoll = Clock::now();
  while (!platform::stopRequested()) {
    if (Clock::now() >= nextPoll) {
      const Clock::time_point decided = Clock::now();
      nextPoll = decided + kPollPeriod;
      if (block.view != nullptr && platform::blockRemoved(block.handle)) {
        std::cout << "setlist: the DJ application removed " << block.name
                  << "; waiting for it to share its decks again\n"
                  << std::flush;
        disconnect(block);
        toldWaiting = true;
        // A new DJ application starts with empty decks, which are no played tracks.
        tracking = Tracking{options.settings, {}, {}};
      }
      if (block.view == nullptr) block = connect();
      if (block.view == nullptr && !toldWaiting) {
        std::cout << "setlist: waiting for the DJ application to share its decks as " << kBlockName
                  << " or " << kBlockNameAlternative << "\n"
                  << std::flush;
        toldWaiting = true;
      }
      if (block.view != nullptr) {
        const BlockView view{block.view};
        const PollReports reports = poll(tracking, readDeck(view, Deck::kLeft, Charset::kUtf8),
                                         readDeck(view, Deck::kRight, Charset::kUtf8));
        for (int i = 0; i < reports.count; ++i) {
          const Deck deck = reports.decks[i];
          const Track& track = reports.tracks[i];
          std::cout << trackReport(deck, track) << std::flush;
          waiting.push_back(
              {decided + delay,
               {deck, track, localTimeNow(), formatTrack(options.format, deck, track)}});
        }
      }
      for (KeptFile* file : outputs.files()) writePending(*file);
    }
    while (!waiting.empty() && waiting.front().first <= Clock::now()) {
      outputs.set.push_back(std::move(waiting.front().second));
      waiting.pop_front();
      outputs.show();
    }
    Clock::time_point wake = nextPoll;
    if (!waiting.empty() && waiting.front().first < wake) wake = waiting.front().first;
    const auto sleep = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    if (sleep.count() > 0) platform::sleepMilliseconds(static_cast<int>(sleep.count()));
  }
  if (block.view != nullptr) disconnect(block);
  std::cout << "setlist: stopped\n" << std::flush;
  return kStatusOk;
}
