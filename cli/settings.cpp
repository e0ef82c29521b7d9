// Where the settings file is, how its values reach a command, and setlist settings.
#include "cli/settings.h"

#include <algorithm>
#include <cstdio>

#include "cli/cli.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/report.h"
#include "platform/url.h"
#include "platform/user_folders.h"
#include "setfile/text.h"

namespace {

using platform::Status;

// The setting of the option in the table, or null.
const Setting* findSetting(const std::vector<Setting>& settings, std::string_view table,
                           const OptionDecl& decl) {
  const auto found = std::find_if(settings.begin(), settings.end(), [&](const Setting& setting) {
    return setting.table == table && setting.decl == &decl;
  });
  return found == settings.end() ? nullptr : &*found;
}

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// One line of setlist settings: a key, its value and where it came from.
std::string settingRow(std::string_view key, std::string_view value, std::string_view origin) {
  std::string line = "  " + std::string(key);
  line.resize(std::max<std::size_t>(line.size() + 1, 16), ' ');
  line += value;
  // Padded by characters, not bytes, so that the column stays straight after a title.
  const std::size_t characters = utf8Characters(line);
  line.append(std::max<std::size_t>(44, characters + 2) - characters, ' ');
  return line.append(origin) + "\n";
}

// The line of an option.
std::string settingLine(const Arguments& arguments, const OptionDecl& decl) {
  std::string value;
  // An address without what it may hide, a token in its query, as every message shows it.
  for (const std::string& item : arguments.values(decl.name)) {
    value.append(value.empty() ? "" : ", ")
        .append(decl.kind == OptionKind::kUrl ? platform::urlSubject(item) : item);
  }
  if (value.empty()) value = decl.kind == OptionKind::kFlag ? "false" : "-";
  const ValueOrigin& origin = arguments.origin(decl.name);
  return settingRow(decl.name.substr(2), value,
                    origin.place.empty() ? "default" : origin.place + " " + origin.key);
}

// The [clean] table: each rule of the user's on a line, and where it stands.
std::string cleanLines(const CleanRules& clean) {
  const auto where = [](const ValueOrigin& origin) { return origin.place + " " + origin.key; };
  std::string text = "[clean]\n";
  for (const CleanPhrase& phrase : clean.phrases)
    text += settingRow("phrases", phrase.text, where(phrase.origin));
  for (const CleanPattern& pattern : clean.patterns)
    text += settingRow("patterns", pattern.text, where(pattern.origin));
  for (const CleanPattern& pattern : clean.hide)
    text += settingRow("hide", pattern.text, where(pattern.origin));
  if (clean.phrases.empty()) text += settingRow("phrases", "-", "default");
  if (clean.patterns.empty()) text += settingRow("patterns", "-", "default");
  if (clean.hide.empty()) text += settingRow("hide", "-", "default");
  return text;
}

// The effective settings of every command.
int printSettings(const SettingsFile& file, bool named) {
  print("settings file: " + file.path + (named ? " (--settings)" : " (default)") + "\n");
  for (const CommandDecl& command : commandDecls()) {
    if (!isSettable(command)) continue;
    Arguments arguments(command);
    if (Status status = applySettings(file.settings, &arguments); !status)
      return failed(status.error());
    std::string text = "[" + settingsTable(command) + "]\n";
    for (const CommandOption& option : command.options) {
      if (isSettable(*option.decl)) text += settingLine(arguments, *option.decl);
    }
    print(text);
  }
  print(cleanLines(file.clean));
  return kStatusOk;
}

// Writes the starter file at path, never over an existing one.
int writeStarter(const std::string& path) {
  platform::FileStatus status;
  platform::Error err;
  const platform::StatResult found = platform::statPath(path, &status, &err);
  if (found == platform::StatResult::kFound)
    return failed(platform::makeError(path, "exists; settings --init does not replace it"));
  if (found == platform::StatResult::kFailed) return failed(err);
  platform::Status written = platform::createParentFolders(path);
  if (written) written = platform::replaceFileContents(path, starterSettings());
  if (!written) return failed(written.error());
  print(path + ": a starter settings file; take the '# ' off a line to use it\n");
  return kStatusOk;
}

}  // namespace

std::string settingsTable(const CommandDecl& command) {
  std::string table(command.name);
  std::replace(table.begin(), table.end(), ' ', '.');
  return table;
}

bool isSettable(const CommandDecl& command) {
  // A command whose only option is --settings has nothing to set.
  return command.name != "settings" &&
         std::any_of(command.options.begin(), command.options.end(),
                     [](const CommandOption& option) { return option.decl->name != "--settings"; });
}

bool isSettable(const OptionDecl& decl) {
  return decl.name.starts_with("--") && decl.name != "--settings";
}

bool isShared(const OptionDecl& decl) {
  int takers = 0;
  for (const CommandDecl& command : commandDecls()) {
    for (const CommandOption& option : command.options) {
      if (option.decl->name != decl.name) continue;
      if (option.decl != &decl) return false;
      takers += isSettable(command) ? 1 : 0;
    }
  }
  return takers > 1 && isSettable(decl);
}

SettingsFile locateSettings(int argc, char** argv) {
  SettingsFile file;
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--settings" && i + 1 < argc) file = {argv[++i], true, {}, {}};
    if (arg.starts_with("--settings=")) file = {std::string(arg.substr(11)), true, {}, {}};
  }
  if (!file.named) {
    auto path = platform::userConfigFile("Zorvanthelix", "setlist.toml");
    file.path = path ? std::move(*path) : std::string();
  }
  return file;
}

Status readSettings(SettingsFile* file) {
  if (file->path.empty()) return {};  // no settings folder, and none named
  if (!file->named) {
    platform::FileStatus status;
    platform::Error err;
    if (platform::statPath(file->path, &status, &err) == platform::StatResult::kMissing) return {};
  }
  const platform::Expected<std::string> text = platform::readWholeFile(file->path);
  if (!text) {
    const platform::Error& err = text.error();
    return platform::makeError(
        file->path,
        "cannot read: " + (err.code != 0 ? platform::systemMessage(err.code) : err.text));
  }
  auto settings = parseSettings(*text, file->path, &file->clean);
  if (!settings) return settings.error();
  file->settings = std::move(*settings);
  return {};
}

Status applySettings(const std::vector<Setting>& settings, Arguments* arguments) {
  const CommandDecl& command = arguments->command();
  for (const CommandOption& option : command.options) {
    const Setting* setting = findSetting(settings, settingsTable(command), *option.decl);
    if (!setting) setting = findSetting(settings, "all", *option.decl);
    if (!setting) continue;
    if (Status status = arguments->set(option.decl->name, setting->values, setting->origin);
        !status)
      return status;
  }
  return {};
}

int runSettings(int argc, char** argv) {
  Arguments arguments(*findCommandDecl("settings"));
  readCommandLine(argc, argv, &arguments);
  if (!arguments.runs()) return arguments.report();
  SettingsFile file = locateSettings(argc, argv);
  if (file.path.empty()) {
    return usageError(platform::makeError(
        "settings file", "no settings folder (HOME is not set); name one with --settings FILE"));
  }
  if (arguments.given("--init")) return writeStarter(file.path);
  const bool named = file.named;
  if (Status status = readSettings(&file); !status) {
    platform::reportError(status.error());
    return kStatusUsage;
  }
  return printSettings(file, named);
}
