// setlist check: the streaming licence's track rules over a set that was played.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "publish/commands.h"
#include "publish/set_reader.h"
#include "publish/track_rules.h"

int runCheck(int argc, char** argv) {
  const Arguments arguments = readCommandLine("check", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const std::string& path = arguments.operands().front();
  const bool playlistOnly = arguments.given("--playlist-only");
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
