// setlist check: the streaming licence's track rules over a set that was played.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "publish/commands.h"
#include "publish/set_reader.h"
#include "publish/track_rules.h"

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
      return usageError(unknownOption("check", arg));
    } else if (!path.empty()) {
      return usageError(wrongCommandLine("one PLAYLIST only"));
    } else {
      path = arg;
    }
  }
  if (path.empty()) return usageError(wrongCommandLine("check needs a PLAYLIST"));
  const auto tracks = readSetTracks(path, playlistOnly);
  if (!tracks) return failed(tracks.error());
  const std::vector<std::string> lines = brokenRuleLines(*tracks);
  for (const std::string& line : lines) std::cout << line << "\n";
  if (lines.empty()) {
    std::cout << "no rule broken in " << tracks->size()
              << (tracks->size() == 1 ? " track" : " tracks") << "\n";
  }
  std::cout << std::flush;
  return lines.empty() ? kStatusOk : kStatusFailed;
}
