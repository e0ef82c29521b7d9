// The one table of setlist's options: every command's options declared once, with their
// value kind, usage and help line, as data that the command-line reader, the usage texts
// and any other source of settings walk alike. The values a command line gives are kept
// by option, as texts already checked, so that another source may fill them first and
// the command line replace them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

struct CleanRules;  // cli/clean_rules.h

// What an option's value is.
enum class OptionKind : std::uint8_t {
  kFlag,     // no value: given or not
  kText,     // any text but an empty one
  kFile,     // a file's path
  kInteger,  // a whole number from `low` to `high`
  kSeconds,  // seconds to the millisecond, with a sign: -12, +3.5
  kClock,    // a clock time HH:MM:SS
  kUrl,      // an address of one of the schemes in `choices`
  kChoice,   // one of the words in `choices`
  kList,     // texts between commas, each trimmed of spaces; empty ones left out
};

struct OptionDecl {
  std::string_view name;   // "--delay"; "-o", the one option without a long name
  std::string_view alias;  // a short spelling such as "-s", or empty
  OptionKind kind = OptionKind::kFlag;
  std::string_view metavar;       // the value in usage texts: "SECONDS"; empty for a flag
  std::string_view help;          // one line
  std::string_view takes = {};    // what a value must be, in messages; else the kind's words
  std::string_view choices = {};  // kChoice: the words; kUrl: the schemes; '|' between
  std::int64_t low = 0;           // kInteger: the range
  std::int64_t high = 0;
  bool repeatable = false;  // each time adds a value, else the last one counts
};

struct CommandOption {
  const OptionDecl* decl;
  bool required = false;
};

struct CommandDecl {
  std::string_view name;     // "cue", "login twitch"
  std::string_view operand;  // "PLAYLIST", one of which it needs; empty when it takes none
  std::span<const CommandOption> options;
};

// Every command, in the order of the usage text.
std::span<const CommandDecl> commandDecls();
// The command of that name, or null.
const CommandDecl* findCommandDecl(std::string_view name);

// Where a value that did not come from the command line came from: "FILE:LINE" and the
// key there, "[live] delay". Empty for the command line's values.
struct ValueOrigin {
  std::string place;
  std::string key;
};

// The values of one command's options, and its operands.
class Arguments {
 public:
  explicit Arguments(const CommandDecl& command);

  const CommandDecl& command() const { return *command_; }

  // Sets an option's values as another source has them (a flag: "true" or "false"), each
  // checked as the command line's are. A command line read afterwards replaces them,
  // a repeated option's whole list included.
  // A fault in them is told as the file's: "FILE:LINE: [live] delay takes ...".
  platform::Status set(std::string_view name, const std::vector<std::string>& values,
                       const ValueOrigin& origin = {});
  // Where the option's values came from; an empty place for the command line or none.
  const ValueOrigin& origin(std::string_view name) const;

  bool given(std::string_view name) const { return !values(name).empty(); }
  // The value, or `otherwise` when the option was not given.
  std::string text(std::string_view name, std::string_view otherwise = {}) const;
  // Every value: a repeated option's, or a list's items.
  const std::vector<std::string>& values(std::string_view name) const;
  std::optional<std::int64_t> integer(std::string_view name) const;
  std::optional<int> clock(std::string_view name) const;                  // seconds after midnight
  std::optional<std::int64_t> milliseconds(std::string_view name) const;  // of kSeconds
  const std::vector<std::string>& operands() const { return operands_; }
  // The settings file's rules for cleaning titles; null when it has none.
  const std::shared_ptr<const CleanRules>& cleanRules() const { return cleanRules_; }

  // Whether the command runs: not after --help, nor after a wrong command line.
  bool runs() const { return !help_ && fault_.ok(); }
  // Tells why it does not: the command's help on stdout (status 0), or what is wrong
  // with the command line and the command's usage on stderr (status 2).
  int report() const;

 private:
  friend void readCommandLine(int argc, char** argv, Arguments* arguments);
  friend Arguments readCommandLine(std::string_view command, int argc, char** argv);
  // The place of the option in the command's list, or -1.
  int find(std::string_view name) const;
  // Takes the option at argv[*i], and its value after it; `replaced` marks the options
  // the command line has given so far.
  platform::Status takeOption(int argc, char** argv, int* i, std::vector<bool>* replaced);

  const CommandDecl* command_;
  std::vector<std::vector<std::string>> values_;  // by the option's place in the command
  std::vector<ValueOrigin> origins_;              // the same
  std::vector<std::string> operands_;
  std::shared_ptr<const CleanRules> cleanRules_;
  bool help_ = false;
  platform::Status fault_;
};

// Reads a command line (argv[0] the command's name, then its options and operands) over
// the values `arguments` holds, and checks that the required ones are there.
void readCommandLine(int argc, char** argv, Arguments* arguments);
// The same for the command of that name over its settings from the settings file (the one
// --settings names, else the default one), unless it asks for --help.
Arguments readCommandLine(std::string_view command, int argc, char** argv);

// A value of an option that its command checks further, told in the table's words:
// "--serve takes [ADDRESS:]PORT, such as 8040, not 'x'"; a value from the settings file
// is told as the file's, "FILE:LINE: [live] serve takes ...".
platform::Error wrongValue(std::string_view option, std::string_view value);
// What a value of the option must be, in words: "whole seconds from 0 to 600".
std::string optionTakes(const OptionDecl& decl);
// An error about a value told as its origin's: the place its subject, the option's name
// at the start of its text replaced by the key.
platform::Error fromOrigin(const ValueOrigin& origin, platform::Error error);

// Readers of the value kinds. A clock time "HH:MM:SS" in seconds after midnight.
std::optional<int> parseClock(std::string_view text);
// Seconds such as "-12", "+3.5" or "0.250", at most three decimals and six digits before
// the point, in milliseconds.
std::optional<std::int64_t> parseMilliseconds(std::string_view text);
