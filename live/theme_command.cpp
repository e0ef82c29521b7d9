// setlist theme export NAME DIR: copies a built-in theme into a new folder, for a streamer
// to make their own look from (setlist live --serve PORT --theme DIR then serves it).
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "live/commands.h"
#include "live/themes.h"

int runTheme(int argc, char** argv) {
  const std::string action = argc < 2 ? "" : argv[1];
  if (action == "--help" || action == "-h") {
    printCommandHelp("theme");
    return kStatusOk;
  }
  if (action != "export") {
    return usageError(
        wrongCommandLine(action.empty() ? "theme needs an action: export"
                                        : "unknown action '" + action + "' for theme: export"),
        "theme");
  }
  // The name is taken here, so that the command line reader sees DIR as the one operand.
  const std::string name = argc < 3 ? "" : argv[2];
  if (name == "--help" || name == "-h") {
    printCommandHelp("theme export");
    return kStatusOk;
  }
  const std::vector<std::string> themes = live::builtInThemes();
  if (std::find(themes.begin(), themes.end(), name) == themes.end()) {
    std::string names;
    for (const std::string& theme : themes) names += " " + theme;
    return usageError(wrongCommandLine((name.empty() ? std::string("theme export needs a NAME")
                                                     : "no built-in theme '" + name + "'") +
                                       "; the themes:" + names),
                      "theme export");
  }
  if (argc < 4) {
    return usageError(wrongCommandLine("theme export needs a DIR, a new folder"), "theme export");
  }
  const Arguments arguments = readCommandLine("theme export", argc - 2, argv + 2);
  if (!arguments.runs()) return arguments.report();
  const std::string& folder = arguments.operands().front();
  if (platform::Status exported = live::exportTheme(name, folder); !exported) {
    return failed(exported.error());
  }
  std::cout << "theme " << name << " is in " << folder << "; serve it with setlist live --serve "
            << "PORT --theme " << folder << "\n";
  return kStatusOk;
}
