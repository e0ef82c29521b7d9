// setlist live: follows the decks of the DJ application as the tracker does, keeping every
// character, and rewrites the overlay files whole on every reported track.
#include "setlist/live.h"

#include <iostream>
#include <optional>
#include <string>

#include "platform/output_file.h"
#include "platform/platform.h"
#include "setlist/commands.h"
#include "setlist/formats.h"
#include "tracker/console.h"
#include "tracker/conversion.h"
#include "tracker/deck_view.h"
#include "tracker/tracking.h"

std::string formatTrack(std::string_view format, Deck deck, const Track& track) {
  const std::pair<std::string_view, std::string_view> fields[] = {{"{artist}", track.artist},
                                                                  {"{song}", track.song},
                                                                  {"{album}", track.album},
                                                                  {"{deck}", deckLetter(deck)}};
  std::string text;
  while (!format.empty()) {
    bool replaced = false;
    for (const auto& [name, value] : fields) {
      if (format.substr(0, name.size()) == name) {
        text += value;
        format.remove_prefix(name.size());
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      text += format.front();
      format.remove_prefix(1);
    }
  }
  return text;
}

std::string overlayPage(std::string_view onAir, std::string_view previous) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"refresh\" content=\"2\">\n<title>On air</title>\n<style>\n"
      "html,body{background:transparent;margin:0}\n"
      "body{padding:16px;color:#fff;font-family:\"Segoe UI\",\"Noto Sans\",\"Noto Sans CJK JP\","
      "\"Noto Sans Arabic\",\"Noto Color Emoji\",sans-serif;"
      "text-shadow:0 0 3px #000,0 2px 8px #000}\n"
      ".label{font-size:14px;letter-spacing:.15em;text-transform:uppercase;opacity:.8}\n"
      ".now{font-size:36px;font-weight:700;margin-bottom:12px}\n"
      ".previous{font-size:22px;opacity:.85}\n"
      "</style></head>\n<body>\n<div class=\"label\">On air</div>\n<div class=\"now\">";
  appendHtml(onAir, &page);
  page += "</div>\n";
  if (!previous.empty()) {
    page += "<div class=\"label\">Before</div>\n<div class=\"previous\">";
    appendHtml(previous, &page);
    page += "</div>\n";
  }
  page += "</body></html>\n";
  return page;
}

namespace {

struct LiveOptions {
  RunSettings settings;
  std::string nowPlaying;
  std::string previous;
  std::string html;
  std::string format = "{artist} - {song}";
};

// Reads the command line into *options; an exit status when the run ends here.
std::optional<int> parseLiveOptions(int argc, char** argv, LiveOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return kStatusOk;
    }
    if (arg != "-s" && arg != "--simple" && arg != "--now-playing" && arg != "--previous" &&
        arg != "--format" && arg != "--html") {
      if (arg.size() > 1 && arg[0] == '-') return unknownOption("live", arg);
      return usageError("live takes no argument '" + std::string(arg) + "'");
    }
    if (i + 1 == argc) return usageError(std::string(arg) + " needs a value");
    const std::string value = argv[++i];
    if (arg == "-s" || arg == "--simple") {
      const std::optional<int> threshold = parseInt(value);
      if (!threshold || *threshold < 1 ||
          value.find_first_not_of("0123456789") != std::string::npos) {
        return usageError("the threshold is a whole number of seconds, at least 1");
      }
      options->settings = {true, *threshold};
    } else if (value.empty()) {
      return usageError(std::string(arg) + " needs a value");
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
  return std::nullopt;
}

// Opens and maps the DJ application's block, by either name. A block shorter than the
// view counts as not there yet.
std::optional<BlockView> connect(platform::Error* err) {
  for (const char* name : {kBlockName, kBlockNameAlternative}) {
    const platform::BlockHandle block = platform::OpenBlock(name, err);
    if (block == platform::kNoBlock) continue;
    const char* view = platform::MapBlock(block, kBlockSize, err);
    platform::CloseBlock(block);
    if (view != nullptr) {
      std::cout << "setlist: connected to " << name << "\n" << std::flush;
      return BlockView{view};
    }
  }
  return std::nullopt;
}

// Waits for the block, saying so once; nothing when a stop is requested first.
std::optional<BlockView> waitForBlock() {
  bool told = false;
  while (!platform::StopRequested()) {
    platform::Error err;
    if (const std::optional<BlockView> view = connect(&err)) return view;
    if (!told) {
      std::cout << "setlist: waiting for the DJ application to share its decks as " << kBlockName
                << " or " << kBlockNameAlternative << "\n"
                << std::flush;
      told = true;
    }
    platform::SleepMilliseconds(1000);
  }
  return std::nullopt;
}

// Rewrites one file whole; false with a message on failure.
bool replace(const std::string& path, const std::string& text) {
  platform::Error err;
  if (path.empty() || platform::ReplaceFileContents(path, text, &err)) return true;
  std::cerr << "setlist: cannot write " << path << ": " << err.text << "\n" << std::flush;
  return false;
}

}  // namespace

int runLive(int argc, char** argv) {
  LiveOptions options;
  if (const std::optional<int> status = parseLiveOptions(argc, argv, &options)) return *status;
  platform::InstallStopHandler();
  const std::optional<BlockView> view = waitForBlock();
  Tracking tracking{options.settings, {}, {}};
  std::string onAir;
  while (view && !platform::StopRequested()) {
    const PollReports reports = poll(tracking, readDeck(*view, Deck::kLeft, Charset::kUtf8),
                                     readDeck(*view, Deck::kRight, Charset::kUtf8));
    for (int i = 0; i < reports.count; ++i) {
      const Deck deck = reports.decks[i];
      const Track& track = deck == Deck::kLeft ? tracking.left.current : tracking.right.current;
      std::cout << trackReport(deck, track) << std::flush;
      std::string previous = std::move(onAir);
      onAir = formatTrack(options.format, deck, track);
      if (!replace(options.nowPlaying, onAir) || !replace(options.previous, previous) ||
          !replace(options.html, overlayPage(onAir, previous))) {
        return kStatusFailed;
      }
    }
    platform::SleepMilliseconds(1000);
  }
  std::cout << "setlist: stopped\n" << std::flush;
  return kStatusOk;
}
