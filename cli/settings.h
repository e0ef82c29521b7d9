// The settings file: setlist.toml in the user's settings folder, or the file --settings
// names, holding any command's long options under a table named after the command
// ([live], [login.lastfm]) or, for an option that means the same in every command that
// takes it, under [all]. Its values fill a command's arguments before the command line,
// which replaces them. Walks the option table, so every option is settable without code
// of its own; secrets are refused, since they belong in the accounts file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/clean_rules.h"
#include "cli/options.h"
#include "platform/error.h"

// One value of the file: the table it is under ("live", "login.lastfm", "all"), its
// option, the values as a command line would give them, and where it stands.
struct Setting {
  std::string table;
  const OptionDecl* decl = nullptr;
  std::vector<std::string> values;
  ValueOrigin origin;
};

struct SettingsFile {
  std::string path;    // empty when no settings folder is known
  bool named = false;  // by --settings, when a missing file is an error
  std::vector<Setting> settings;
  CleanRules clean;  // the [clean] table
};

// The file that --settings names in argv (the last time), else the default one.
SettingsFile locateSettings(int argc, char** argv);
// Reads and checks the whole file into file->settings; a missing default file holds none.
platform::Status readSettings(SettingsFile* file);
// Parses and checks the text of a settings file; `path` names it in messages. The rules
// of its [clean] table go to *clean when given.
platform::Expected<std::vector<Setting>> parseSettings(std::string_view text,
                                                       const std::string& path,
                                                       CleanRules* clean = nullptr);
// Sets the command's options from the settings: its own table's over [all]'s.
platform::Status applySettings(const std::vector<Setting>& settings, Arguments* arguments);

// The table of a command ("login.lastfm"), and whether the file may set its options.
std::string settingsTable(const CommandDecl& command);
bool isSettable(const CommandDecl& command);
// Whether the option may be set in the file (a long option other than --settings), and
// under [all] (several commands take it, and every command that takes an option of its
// name means the same by it).
bool isSettable(const OptionDecl& decl);
bool isShared(const OptionDecl& decl);

// A starter file: every settable option and the [clean] rules commented out, each with its
// help line above it.
std::string starterSettings();

// setlist settings: prints the effective settings of every command and where each came
// from; with --init writes the starter file, never over an existing one.
int runSettings(int argc, char** argv);
