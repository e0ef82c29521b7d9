// The settings file's TOML, read and written with toml++ (the one source that includes it,
// built for size). Every table and key is checked against the option table, and every
// value as the command line's would be, before any command starts.
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>

#include "cli/settings.h"

namespace {

using platform::Error;
using platform::Expected;
using platform::Status;

constexpr std::string_view kAll = "all";

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

// Whether a key or a value looks like a secret: a token, a key, a password, a webhook.
bool looksSecret(std::string_view key, const toml::node& node) {
  const std::string name = lower(key);
  for (const std::string_view word : {"token", "secret", "key", "password", "webhook"}) {
    if (name.find(word) != std::string::npos) return true;
  }
  const std::optional<std::string_view> text = node.value<std::string_view>();
  return text && lower(*text).find("webhook") != std::string::npos;
}

// The number of edits between two words.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "; did you mean `delay`?" for the nearest of the names, when one is near.
std::string nearest(std::string_view word, const std::vector<std::string>& names) {
  const std::string* best = nullptr;
  std::size_t bestDistance = std::max<std::size_t>(2, word.size() / 3) + 1;
  for (const std::string& name : names) {
    const std::size_t d = distance(word, name);
    if (d < bestDistance) best = &name, bestDistance = d;
  }
  return best ? "; did you mean `" + *best + "`?" : "";
}

std::string typeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "a whole number";
    case toml::node_type::floating_point:
      return "a number with a point";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::array:
      return "a list";
    case toml::node_type::table:
      return "a table";
    default:
      return "a date or time";
  }
}

// One value as the command line would give it, when it is of a kind the option takes.
bool textOf(const OptionSpec& spec, const toml::node& node, std::string* out) {
  using K = OptionKind;
  if (const auto* text = node.as_string()) {
    *out = text->get();
    return spec.kind != K::kFlag && spec.kind != K::kInteger && spec.kind != K::kSeconds;
  }
  if (const auto* flag = node.as_boolean()) {
    *out = flag->get() ? "true" : "false";
    return spec.kind == K::kFlag;
  }
  if (const auto* number = node.as_integer()) {
    *out = std::to_string(number->get());
    return spec.kind == K::kInteger || spec.kind == K::kSeconds || spec.kind == K::kText;
  }
  if (const auto* number = node.as_floating_point()) {
    std::array<char, 32> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number->get());
    out->assign(digits.data(), result.ptr);
    return spec.kind == K::kSeconds;
  }
  if (const auto* time = node.as_time()) {
    const toml::time& t = time->get();
    std::array<char, 16> clock{};
    std::snprintf(clock.data(), clock.size(), "%02u:%02u:%02u", unsigned{t.hour},
                  unsigned{t.minute}, unsigned{t.second});
    *out = clock.data();
    return spec.kind == K::kClock && t.nanosecond == 0;
  }
  return false;
}

// The values of a key: a list for a repeatable option or a list option, else one.
bool valuesOf(const OptionSpec& spec, const toml::node& node, std::vector<std::string>* out) {
  const toml::array* list = node.as_array();
  if (!list) return textOf(spec, node, &out->emplace_back());
  if (!spec.repeatable && spec.kind != OptionKind::kList) return false;
  for (const toml::node& item : *list) {
    if (!textOf(spec, item, &out->emplace_back())) return false;
  }
  return true;
}

// The line of a node; a table made by a header such as [login.lastfm] for `login`, which
// has none of its own, at its first entry.
toml::source_index lineOf(const toml::node& node) {
  const toml::table* table = node.as_table();
  if (node.source().begin || !table || table->empty()) return node.source().begin.line;
  return lineOf(table->begin()->second);
}

struct Reader {
  const std::string& path;
  std::vector<Setting> settings;

  Error at(const toml::node& node, std::string text) const {
    return platform::makeError(path + ":" + std::to_string(lineOf(node)), std::move(text));
  }

  Status readTable(const toml::table& table, const std::string& name);
  Status readKey(const std::string& name, std::string_view key, const toml::node& node);
  Status readNode(const std::string& name, std::string_view key, const toml::node& node);
};

// The commands whose options a table sets: [all] every one.
std::vector<const CommandSpec*> commandsOf(const std::string& table) {
  std::vector<const CommandSpec*> commands;
  for (const CommandSpec& command : commandSpecs()) {
    if (isSettable(command) && (table == kAll || settingsTable(command) == table))
      commands.push_back(&command);
  }
  return commands;
}

// The option of that key in the table, with the names it could have meant.
const OptionSpec* optionOf(const std::string& table, std::string_view key,
                           std::vector<std::string>* names) {
  const OptionSpec* found = nullptr;
  for (const CommandSpec* command : commandsOf(table)) {
    for (const CommandOption& option : command->options) {
      const OptionSpec& spec = *option.spec;
      if (!isSettable(spec) || (table == kAll && !isShared(spec))) continue;
      if (spec.name.substr(2) == key) found = &spec;
      names->emplace_back(spec.name.substr(2));
    }
  }
  return found;
}

Status Reader::readNode(const std::string& name, std::string_view key, const toml::node& node) {
  const std::string where = "[" + name + "] " + std::string(key);
  if (looksSecret(key, node)) {
    return at(node, where +
                        ": secrets are not kept in the settings file; setlist login keeps them in "
                        "the accounts file");
  }
  std::vector<std::string> names;
  const OptionSpec* spec = optionOf(name, key, &names);
  if (!spec) return at(node, "unknown key " + where + nearest(key, names));
  Setting setting{name, spec, {}, {path + ":" + std::to_string(lineOf(node)), where}};
  if (!valuesOf(*spec, node, &setting.values)) {
    return at(node, where + " takes " + optionTakes(*spec) + ", not " + typeName(node));
  }
  // Checked as the command line's values are, in a command that takes the option.
  for (const CommandSpec* command : commandsOf(name)) {
    const auto takes = [&](const CommandOption& option) { return option.spec == spec; };
    if (std::none_of(command->options.begin(), command->options.end(), takes)) continue;
    Arguments check(*command);
    if (Status status = check.set(spec->name, setting.values, setting.origin); !status)
      return status;
    break;
  }
  settings.push_back(std::move(setting));
  return {};
}

Status Reader::readKey(const std::string& name, std::string_view key, const toml::node& node) {
  const std::string inner = name.empty() ? std::string(key) : name + "." + std::string(key);
  const toml::table* values = node.as_table();
  const bool inCommand = !name.empty() && !commandsOf(name).empty();
  if (!values && inCommand) return readNode(name, key, node);
  if (!values) return at(node, "`" + inner + "` is not under a command's table, such as [live]");
  bool isPrefix = false;
  std::vector<std::string> tables{std::string(kAll)};
  for (const CommandSpec& command : commandSpecs()) {
    if (!isSettable(command)) continue;
    tables.push_back(settingsTable(command));
    isPrefix = isPrefix || tables.back().starts_with(inner + ".");
  }
  if (!inCommand && (inner == kAll || !commandsOf(inner).empty() || isPrefix))
    return readTable(*values, inner);
  return at(node, "unknown table [" + inner + "]" + nearest(inner, tables));
}

Status Reader::readTable(const toml::table& table, const std::string& name) {
  for (const auto& [key, node] : table) {
    if (Status status = readKey(name, key.str(), node); !status) return status;
  }
  return {};
}

// A value of the starter file for the option: its example, else one of its kind.
toml::table starterLine(const OptionSpec& spec, std::string_view key) {
  static constexpr std::pair<std::string_view, std::string_view> kExamples[] = {
      {"--serve", "8040"},
      {"--simple", "5"},
      {"--allow-host", "djlaptop.lan"},
      {"--twitch", "mychannel"},
      {"--format", "{artist} - {song}"},
      {"--delay", "5"},
      {"--cooldown", "10"},
      {"--start", "21:00:00"},
      {"--end", "23:00:00"},
      {"--shift", "0"},
      {"--twitch-url", "wss://irc-ws.chat.twitch.tv:443"},
      {"--auth-url", "https://id.twitch.tv"},
      {"--url", "https://api.listenbrainz.org"},
      {"--tags", "house"},
      {"--to", "listenbrainz"},
  };
  std::string example(spec.metavar);
  for (const auto& [name, text] : kExamples) example = name == spec.name ? text : example;
  toml::table line;
  using K = OptionKind;
  if (spec.kind == K::kFlag) {
    line.insert(key, false);
  } else if (spec.kind == K::kInteger || spec.kind == K::kSeconds) {
    std::int64_t number = spec.low;
    std::from_chars(example.data(), example.data() + example.size(), number);
    line.insert(key, number);
  } else if (spec.kind == K::kList || spec.repeatable) {
    line.insert(key, toml::array{example});
  } else if (spec.kind == K::kChoice) {
    line.insert(key, std::string(spec.choices.substr(0, spec.choices.find('|'))));
  } else {
    line.insert(key, example);
  }
  return line;
}

// "# help\n# key = value\n" for each option of the table.
void appendStarter(std::string* text, const std::string& table) {
  text->append("\n[").append(table).append("]\n");
  std::vector<std::string> names;
  for (const CommandSpec* command : commandsOf(table)) {
    for (const CommandOption& option : command->options) {
      const OptionSpec& spec = *option.spec;
      const std::string key(spec.name.substr(spec.name.find_first_not_of('-')));
      if (!isSettable(spec) || (table == kAll && !isShared(spec)) ||
          looksSecret(key, toml::value<bool>(false)) ||
          std::find(names.begin(), names.end(), key) != names.end())
        continue;
      names.push_back(key);
      std::ostringstream line;
      line << starterLine(spec, key);
      text->append("# ").append(spec.help).append("\n# ").append(line.str()).append("\n");
    }
  }
}

}  // namespace

Expected<std::vector<Setting>> parseSettings(std::string_view text, const std::string& path) {
  toml::parse_result parsed = toml::parse(text, path);
  if (!parsed) {
    const toml::parse_error& fault = parsed.error();
    return platform::makeError(path + ":" + std::to_string(fault.source().begin.line),
                               std::string(fault.description()));
  }
  Reader reader{path, {}};
  if (Status status = reader.readTable(parsed.table(), ""); !status) return status.error();
  return std::move(reader.settings);
}

std::string starterSettings() {
  std::string text =
      "# setlist's settings: each command's long options, under a table named after the\n"
      "# command, with the option's own name; [all] holds those that every command taking\n"
      "# them shares. Take the '# ' off a line to use it; the command line wins over this\n"
      "# file, and a list given on the command line replaces the file's. Secrets never go\n"
      "# here: setlist login keeps them in the accounts file.\n";
  appendStarter(&text, std::string(kAll));
  for (const CommandSpec& command : commandSpecs()) {
    if (isSettable(command)) appendStarter(&text, settingsTable(command));
  }
  return text;
}
