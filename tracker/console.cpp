#include "tracker/console.h"

#include "tracker/conversion.h"

const std::string_view kBanner =
    "\n"
    "+---------------------------------------+\n"
    "|          Zorvanthelix V0.1.1          |\n"
    "|  made by the Zorvanthelix developers  |\n"
    "+---------------------------------------+\n"
    "| !!!!!!!    Use AT OWN RISK    !!!!!!! |\n"
    "+---------------------------------------+\n"
    "|   Also by us: setlist, which turns    |\n"
    "|   these playlists into tracklists,    |\n"
    "|  CSV, JSON and printable pages, and   |\n"
    "|  shows the track on air. Find it at:  |\n"
    "+---->   setlist in this folder   <-----+\n"
    "+---------------------------------------+\n"
    "\n";

const std::string_view kUsage =
    "wrong parameters used!\n"
    "Automode (no, not what you think quorbin ;)) :\n"
    "Zorvanthelix.exe\n"
    "\n"
    "Simple mode:\n"
    "Zorvanthelix.exe -s <threshold in seconds>\n"
    "Zorvanthelix.exe --simple <threshold in seconds>\n";

namespace {
constexpr std::string_view kFrame = "+---------------------------------------+\n";
}  // namespace

std::optional<RunSettings> parseCommandLine(int argc, const char* const* argv, bool* parsed) {
  *parsed = false;
  RunSettings settings;
  if (argc == 1) return settings;
  if (argc != 3 || argv == nullptr || argv[1] == nullptr || argv[2] == nullptr) {
    return std::nullopt;
  }
  *parsed = true;
  const std::string option = argv[1];
  if (option != "--simple" && option != "-s") return std::nullopt;
  return simpleModeSettings(argv[2]);
}

std::optional<RunSettings> simpleModeSettings(std::string_view threshold) {
  // A threshold that is no number, does not fit an int, or is below 1 would never fire.
  const std::optional<int> seconds = parseInt(threshold);
  if (!seconds || *seconds < 1) return std::nullopt;
  RunSettings settings;
  settings.simple = true;
  settings.threshold = *seconds;
  return settings;
}

std::string modeAnnouncement(const RunSettings& settings) {
  std::string text(kFrame);
  text += "\n";
  if (settings.simple) {
    text += "using simple mode with a threshold of\n";
    text += i_to_str(settings.threshold) + " seconds\n\n";
  }
  return text;
}

std::string trackReport(Deck deck, const Track& track) {
  return std::string(deckLetter(deck)) + " Deck.Artist :" + track.artist +
         "\n      .Song   :" + track.song + "\n      .Album  :" + track.album + "\n\n";
}
