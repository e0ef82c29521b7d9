// setlist: publishes a set that the tracker logged, serves it to a stream while it is
// played and takes it online. main and the table of commands; each command lives in the
// folder of its subject.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/settings.h"
#include "live/commands.h"
#include "online/commands.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/commands.h"

#ifndef ZV_VERSION
#define ZV_VERSION "unknown"
#endif

namespace {

struct Command {
  std::string_view name;
  int (*run)(int argc, char** argv);
};

constexpr Command kCommandTable[] = {
    {"tracklist", runTracklist}, {"csv", runCsv},           {"json", runJson},
    {"html", runHtml},           {"cue", runCue},           {"chapters", runChapters},
    {"check", runCheck},         {"live", runLive},         {"login", runLogin},
    {"accounts", runAccounts},   {"logout", runLogout},     {"scrobble", runScrobble},
    {"mixcloud", runMixcloud},   {"settings", runSettings}, {"theme", runTheme},
    {"discord", runDiscord},
};

}  // namespace

int main(int argc, char** argv) {
  platform::showConsoleTextAs(platform::TextEncoding::kUtf8);
  std::vector<std::string> arguments = platform::utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  // A view of the argument itself: a conditional between "" and a std::string would make a
  // temporary string, gone by the next line.
  const std::string_view name =
      arguments.size() < 2 ? std::string_view() : std::string_view(arguments[1]);
  if (name.empty()) return usageError(wrongCommandLine("which subcommand?"));
  if (name == "--help" || name == "-h") {
    printHelp();
    return kStatusOk;
  }
  if (name == "--version") {
    std::printf("setlist %s\n", ZV_VERSION);
    return kStatusOk;
  }
  for (const Command& command : kCommandTable) {
    if (command.name == name) return command.run(argc - 1, pointers.data() + 1);
  }
  return usageError(wrongCommandLine("unknown subcommand '" + std::string(name) + "'"));
}
