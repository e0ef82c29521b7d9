// The command-line reader over the option table: each value checked by its kind as it is
// taken, so a command only ever sees values of the right form.
#include "cli/options.h"

#include <charconv>

#include "cli/cli.h"
#include "cli/settings.h"
#include "platform/report.h"
#include "platform/url.h"

namespace {

using platform::Status;

const std::vector<std::string> kNone;

// An option's place among all commands' options, for a message about it.
const OptionDecl* anyDecl(std::string_view name) {
  for (const CommandDecl& command : commandDecls()) {
    for (const CommandOption& option : command.options) {
      if (option.decl->name == name) return option.decl;
    }
  }
  return nullptr;
}

// Whether `word` is one of the '|'-separated words.
bool isOneOf(std::string_view words, std::string_view word) {
  while (!words.empty()) {
    const std::size_t bar = std::min(words.find('|'), words.size());
    if (words.substr(0, bar) == word) return true;
    words.remove_prefix(std::min(bar + 1, words.size()));
  }
  return false;
}

std::optional<std::int64_t> readInteger(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// What is wrong with a URL for an option of these schemes; empty when nothing.
std::string urlFault(std::string_view schemes, std::string_view text) {
  const platform::Expected<platform::Url> url = platform::parseUrl(text);
  if (!url) return url.error().text;
  const std::string scheme = std::string(url->webSocket ? "ws" : "http") + (url->secure ? "s" : "");
  return isOneOf(schemes, scheme) ? "" : "not " + scheme + "://";
}

// The value as a message shows it: a URL without what it may hide (a password, a
// token in its query), any text without control characters.
std::string shown(const OptionDecl& decl, std::string_view value) {
  std::string text =
      decl.kind == OptionKind::kUrl ? platform::urlSubject(value) : std::string(value);
  for (char& c : text) c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  return text;
}

}  // namespace

std::string optionTakes(const OptionDecl& decl) {
  if (!decl.takes.empty()) return std::string(decl.takes);
  switch (decl.kind) {
    case OptionKind::kInteger:
      return "a whole number from " + std::to_string(decl.low) + " to " + std::to_string(decl.high);
    case OptionKind::kSeconds:
      return "seconds such as -12 or +3.5";
    case OptionKind::kClock:
      return "a clock time HH:MM:SS";
    case OptionKind::kChoice: {
      std::string words(decl.choices);
      for (std::size_t bar = words.find('|'); bar != std::string::npos; bar = words.find('|'))
        words.replace(bar, 1, " or ");
      return words;
    }
    default:
      return "a value";
  }
}

namespace {

// The settings-file values of the command read last, by option, for wrongValue.
std::vector<std::pair<std::string, ValueOrigin>> fileOrigins;

platform::Error wrong(const OptionDecl& decl, std::string_view value, const std::string& why) {
  return wrongCommandLine(std::string(decl.name) + " takes " + optionTakes(decl) + ", not '" +
                          shown(decl, value) + "'" + (why.empty() ? "" : " (" + why + ")"));
}

// Checks one value of the option and appends it (a list: its items) to *values.
// Appends the items of a comma list, each trimmed of spaces; empty ones are left out.
void appendItems(std::string_view list, std::vector<std::string>* values) {
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    std::string_view item = list.substr(start, comma - start);
    item.remove_prefix(std::min(item.find_first_not_of(' '), item.size()));
    item = item.substr(0, item.find_last_not_of(' ') + 1);
    if (!item.empty()) values->emplace_back(item);
    start = comma + 1;
  }
}

// Whether a value (not empty) is of the option's kind; *why may say more.
bool isOfKind(const OptionDecl& decl, std::string_view value, std::string* why) {
  switch (decl.kind) {
    case OptionKind::kFlag:
      return value == "true" || value == "false";
    case OptionKind::kInteger: {
      const std::optional<std::int64_t> number = readInteger(value);
      return number && *number >= decl.low && *number <= decl.high;
    }
    case OptionKind::kSeconds:
      return parseMilliseconds(value).has_value();
    case OptionKind::kClock:
      return parseClock(value).has_value();
    case OptionKind::kUrl:
      *why = urlFault(decl.choices, value);
      return why->empty();
    case OptionKind::kChoice:
      return isOneOf(decl.choices, value);
    case OptionKind::kText:
    case OptionKind::kFile:
    case OptionKind::kList:
      break;
  }
  return true;
}

// Checks one value of the option and appends it (a list: its items; a flag: "true" when
// it is set) to *values.
Status takeValue(const OptionDecl& decl, std::string_view value, std::vector<std::string>* values) {
  if (value.empty()) return wrongCommandLine(std::string(decl.name) + " needs a value");
  std::string why;
  if (!isOfKind(decl, value, &why)) return wrong(decl, value, why);
  if (decl.kind == OptionKind::kList) {
    appendItems(value, values);
  } else if (decl.kind != OptionKind::kFlag || value == "true") {
    values->emplace_back(value);
  }
  return {};
}

// What is still missing once the command line is read: the operand, a required option.
Status checkComplete(const Arguments& arguments) {
  const CommandDecl& command = arguments.command();
  const std::string name(command.name);
  const std::vector<std::string>& operands = arguments.operands();
  if (command.operand.empty() && !operands.empty()) {
    return wrongCommandLine(name + " takes no argument '" + operands.front() + "'");
  }
  if (!command.operand.empty() && operands.empty()) {
    return wrongCommandLine(name + " needs a " + std::string(command.operand));
  }
  if (operands.size() > 1) return wrongCommandLine("one " + std::string(command.operand) + " only");
  for (const CommandOption& option : command.options) {
    if (option.required && !arguments.given(option.decl->name)) {
      return wrongCommandLine(name + " needs " + std::string(option.decl->name) + " " +
                              std::string(option.decl->metavar));
    }
  }
  return {};
}

// Whether the command line asks for the command's help, which no settings file spoils.
bool asksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

}  // namespace

Arguments::Arguments(const CommandDecl& command)
    : command_(&command), values_(command.options.size()), origins_(command.options.size()) {}

int Arguments::find(std::string_view name) const {
  for (std::size_t i = 0; i < command_->options.size(); ++i) {
    const OptionDecl& decl = *command_->options[i].decl;
    if (decl.name == name || (!decl.alias.empty() && decl.alias == name))
      return static_cast<int>(i);
  }
  return -1;
}

Status Arguments::set(std::string_view name, const std::vector<std::string>& values,
                      const ValueOrigin& origin) {
  const int at = find(name);
  if (at < 0) return unknownOption(command_->name, name);
  const auto place = static_cast<std::size_t>(at);
  std::vector<std::string> taken;
  for (const std::string& value : values) {
    if (Status status = takeValue(*command_->options[place].decl, value, &taken); !status) {
      return fromOrigin(origin, status.error());
    }
  }
  values_[place] = std::move(taken);
  origins_[place] = origin;
  return {};
}

const ValueOrigin& Arguments::origin(std::string_view name) const {
  static const ValueOrigin kCommandLine;
  const int at = find(name);
  return at < 0 ? kCommandLine : origins_[static_cast<std::size_t>(at)];
}

const std::vector<std::string>& Arguments::values(std::string_view name) const {
  const int at = find(name);
  return at < 0 ? kNone : values_[static_cast<std::size_t>(at)];
}

std::string Arguments::text(std::string_view name, std::string_view otherwise) const {
  const std::vector<std::string>& given = values(name);
  return given.empty() ? std::string(otherwise) : given.back();
}

std::optional<std::int64_t> Arguments::integer(std::string_view name) const {
  return given(name) ? readInteger(values(name).back()) : std::nullopt;
}

std::optional<int> Arguments::clock(std::string_view name) const {
  return given(name) ? parseClock(values(name).back()) : std::nullopt;
}

std::optional<std::int64_t> Arguments::milliseconds(std::string_view name) const {
  return given(name) ? parseMilliseconds(values(name).back()) : std::nullopt;
}

int Arguments::report() const {
  if (help_) {
    printCommandHelp(command_->name);
    return kStatusOk;
  }
  // A fault of the settings file names its place; the command's usage would not help.
  if (!fault_.error().subject.empty()) {
    platform::reportError(fault_.error());
    return kStatusUsage;
  }
  return usageError(fault_.error(), command_->name);
}

Status Arguments::takeOption(int argc, char** argv, int* i, std::vector<bool>* replaced) {
  const std::string_view arg = argv[*i];
  // --name=value, as well as --name value.
  const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
  const std::string_view name = arg.substr(0, equals);
  const int at = find(name);
  if (at < 0) return unknownOption(command_->name, name);
  const auto place = static_cast<std::size_t>(at);
  const OptionDecl& decl = *command_->options[place].decl;
  // The first time on the command line, it replaces what another source gave.
  if (!(*replaced)[place] || !decl.repeatable) values_[place].clear();
  origins_[place] = {};
  (*replaced)[place] = true;
  std::string_view value = "true";
  if (equals != std::string_view::npos) {
    if (decl.kind == OptionKind::kFlag)
      return wrongCommandLine(std::string(name) + " takes no value");
    value = arg.substr(equals + 1);
  } else if (decl.kind != OptionKind::kFlag) {
    value = *i + 1 < argc ? std::string_view(argv[++*i]) : std::string_view();
  }
  return takeValue(decl, value, &values_[place]);
}

void readCommandLine(int argc, char** argv, Arguments* arguments) {
  std::vector<bool> replaced(arguments->values_.size());
  bool optionsEnded = false;
  for (int i = 1; i < argc && arguments->fault_.ok(); ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      arguments->operands_.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      arguments->help_ = true;
      return;
    } else {
      arguments->fault_ = arguments->takeOption(argc, argv, &i, &replaced);
    }
  }
  if (arguments->fault_.ok()) arguments->fault_ = checkComplete(*arguments);
}

Arguments readCommandLine(std::string_view command, int argc, char** argv) {
  Arguments arguments(*findCommandDecl(command));
  if (!asksForHelp(argc, argv)) {
    SettingsFile file = locateSettings(argc, argv);
    arguments.fault_ = readSettings(&file);
    if (arguments.fault_.ok()) arguments.fault_ = applySettings(file.settings, &arguments);
    arguments.cleanRules_ = std::make_shared<const CleanRules>(std::move(file.clean));
  }
  if (arguments.fault_.ok()) readCommandLine(argc, argv, &arguments);
  fileOrigins.clear();
  for (const CommandOption& option : arguments.command().options) {
    const ValueOrigin& origin = arguments.origin(option.decl->name);
    if (!origin.place.empty()) fileOrigins.emplace_back(option.decl->name, origin);
  }
  return arguments;
}

platform::Error wrongValue(std::string_view option, std::string_view value) {
  const OptionDecl* decl = anyDecl(option);
  if (!decl) return wrongCommandLine(std::string(option) + ": '" + std::string(value) + "'");
  for (const auto& [name, origin] : fileOrigins) {
    if (name == option) return fromOrigin(origin, wrong(*decl, value, ""));
  }
  return wrong(*decl, value, "");
}

platform::Error fromOrigin(const ValueOrigin& origin, platform::Error error) {
  if (origin.place.empty()) return error;
  const std::size_t space = error.text.find(' ');
  error.text = origin.key + (space == std::string::npos ? "" : error.text.substr(space));
  error.subject = origin.place;
  return error;
}

std::optional<int> parseClock(std::string_view text) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  int parts[3];
  for (std::size_t i = 0; i < 3; ++i) {
    const char high = text[i * 3];
    const char low = text[i * 3 + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return std::nullopt;
    parts[i] = (high - '0') * 10 + (low - '0');
  }
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
  return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

std::optional<std::int64_t> parseMilliseconds(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  // Up to about eleven days either way, to the millisecond.
  if (whole.empty() || whole.size() > 6 || fraction.size() > 3 ||
      (point != std::string_view::npos && fraction.empty())) {
    return std::nullopt;
  }
  std::int64_t ms = 0;
  for (const char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + (c - '0');
  }
  ms *= 1000;
  std::int64_t scale = 100;
  for (const char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
    ms += (c - '0') * scale;
    scale /= 10;
  }
  return negative ? -ms : ms;
}
