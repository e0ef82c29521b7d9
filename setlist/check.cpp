// setlist check: the streaming licence's track rules over a set that was played.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "setlist/commands.h"
#include "setlist/set_reader.h"
#include "setlist/track_rules.h"

bool readSetTracks(const std::string& path, bool playlistOnly, std::vector<Record>* tracks) {
  SetReader set;
  if (!set.open(path, playlistOnly, false)) return false;
  return set.read([&](const Record& record) {
    if (!isEmptyTrack(record.track)) tracks->push_back(record);
    return true;
  });
}

int runCheck(int argc, char** argv) {
  std::string path;
  bool playlistOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return kStatusOk;
    }
    if (arg == "--playlist-only") {
      playlistOnly = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return unknownOption("check", arg);
    } else if (!path.empty()) {
      return usageError("one PLAYLIST only");
    } else {
      path = arg;
    }
  }
  if (path.empty()) return usageError("check needs a PLAYLIST");
  std::vector<Record> tracks;
  if (!readSetTracks(path, playlistOnly, &tracks)) return kStatusFailed;
  const std::vector<std::string> lines = brokenRuleLines(tracks);
  for (const std::string& line : lines) std::cout << line << "\n";
  if (lines.empty()) {
    std::cout << "no rule broken in " << tracks.size()
              << (tracks.size() == 1 ? " track" : " tracks") << "\n";
  }
  std::cout << std::flush;
  return lines.empty() ? kStatusOk : kStatusFailed;
}
