// The option table and its reader: every command's help, a wrong value of each kind with
// the one line that names it, the accounts file for every command that uses one, every
// URL option checked at start, and values given before the command line.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// The command line "<command's last word> ARGS...", read over `arguments`.
void read(const std::vector<std::string>& args, Arguments* arguments) {
  std::vector<std::string> words{std::string(arguments->command().name)};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  readCommandLine(static_cast<int>(argv.size()), argv.data(), arguments);
}

Arguments read(std::string_view command, const std::vector<std::string>& args) {
  const CommandDecl* decl = findCommandDecl(command);
  EXPECT_NE(decl, nullptr) << command;
  Arguments arguments(*decl);
  read(args, &arguments);
  return arguments;
}

// What a refused command line tells on stderr, and its status.
std::string refusal(const Arguments& arguments, int* status) {
  CaptureStderr();
  *status = arguments.report();
  return GetCapturedStderr();
}

TEST(OptionTable, EveryCommandHasItsHelpAndOneMeaningPerOption) {
  std::map<std::string_view, const OptionDecl*> meaning;
  for (const CommandDecl& command : commandDecls()) {
    for (const char* help : {"--help", "-h"}) {
      const Arguments arguments = read(command.name, {help});
      ASSERT_FALSE(arguments.runs()) << command.name;
      CaptureStdout();
      EXPECT_EQ(arguments.report(), kStatusOk);
      const std::string out = GetCapturedStdout();
      EXPECT_EQ(out.rfind("usage: setlist " + std::string(command.name) + " ", 0), 0u) << out;
      for (const CommandOption& option : command.options) {
        EXPECT_NE(out.find(std::string(option.decl->name)), std::string::npos) << out;
        EXPECT_NE(out.find(std::string(option.decl->help)), std::string::npos) << out;
      }
    }
    std::set<std::string_view> names;
    for (const CommandOption& option : command.options) {
      const OptionDecl& decl = *option.decl;
      EXPECT_TRUE(names.insert(decl.name).second) << command.name << " " << decl.name;
      EXPECT_EQ(decl.metavar.empty(), decl.kind == OptionKind::kFlag) << decl.name;
      // The same option means the same in every command; mixcloud's --name names the show.
      if (command.name == "mixcloud" && decl.name == "--name") continue;
      EXPECT_EQ(meaning.emplace(decl.name, &decl).first->second, &decl) << decl.name;
    }
  }
}

TEST(OptionTable, AWrongCommandLineIsOneLineAndTheCommandsUsage) {
  struct Case {
    std::string command;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {"tracklist",
       {"--start", "24:00:00", "p"},
       "--start takes a clock time HH:MM:SS, not '24:00:00'"},
      {"tracklist", {"--start", "1\x1b]0;x\a", "p"}, "not '1?]0;x?'"},
      {"csv", {"--start", "10:00:00", "p"}, "unknown option '--start' for csv"},
      {"json", {"p", "q"}, "one PLAYLIST only"},
      {"html", {"p", "-o"}, "-o needs a value"},
      {"cue", {"--start", "10:00:00", "p"}, "cue needs --audio FILE"},
      {"chapters",
       {"--start", "10:00:00", "--shift", "1.2345", "p"},
       "--shift takes seconds such as -12 or +3.5, not '1.2345'"},
      {"check", {}, "check needs a PLAYLIST"},
      {"live", {"--delay", "1.5"}, "--delay takes whole seconds from 0 to 600, not '1.5'"},
      {"live", {"--cooldown", "3601"}, "--cooldown takes whole seconds from 0 to 3600, not '3601'"},
      {"live", {"--rules=yes"}, "--rules takes no value"},
      {"live", {"--now-playing", ""}, "--now-playing needs a value"},
      {"live", {"x"}, "live takes no argument 'x'"},
      {"discord", {"--start", "10:00", "s"}, "--start takes a clock time HH:MM:SS, not '10:00'"},
      {"discord", {"--again", "s", "t"}, "one SET only"},
      {"login lastfm", {"--url", "https://h"}, "login lastfm needs --api-key KEY"},
      {"login mixcloud",
       {"--client-id", "c", "--port", "abc"},
       "--port takes a port number, not 'abc'"},
      {"login mixcloud", {"--client-id", "c", "--port=65536"}, "not '65536'"},
      {"login twitch",
       {"--client-id", "c", "--port", "1"},
       "unknown option '--port' for login twitch"},
      {"accounts", {"-x"}, "unknown option '-x' for accounts"},
      {"logout", {}, "logout needs a NAME"},
      {"scrobble", {"s", "--to"}, "--to needs a value"},
      {"mixcloud",
       {"--audio", "a", "--name", "n", "--at", "played", "p"},
       "--at takes logged or loaded, not 'played'"},
  };
  for (const Case& c : cases) {
    const Arguments arguments = read(c.command, c.args);
    ASSERT_FALSE(arguments.runs()) << c.message;
    int status = 0;
    const std::string err = refusal(arguments, &status);
    EXPECT_EQ(status, kStatusUsage);
    EXPECT_EQ(err.substr(0, err.find('\n')).find("setlist: "), 0u) << err;
    EXPECT_NE(err.substr(0, err.find('\n')).find(c.message), std::string::npos) << err;
    EXPECT_NE(err.find("\nusage: setlist " + c.command + " "), std::string::npos) << err;
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 7) << err;  // live's usage is 5 lines
  }
}

TEST(OptionTable, ValuesArriveTyped) {
  const Arguments cue = read("cue", {"--audio", "a.wav", "--start=22:58:00", "--shift", "-1.5",
                                     "--at", "loaded", "-o", "x", "-o", "y", "--", "-p.txt"});
  ASSERT_TRUE(cue.runs());
  EXPECT_EQ(cue.clock("--start"), 22 * 3600 + 58 * 60);
  EXPECT_EQ(cue.milliseconds("--shift"), -1500);
  EXPECT_EQ(cue.text("--at"), "loaded");
  EXPECT_EQ(cue.text("-o"), "y");  // the last one counts
  EXPECT_EQ(cue.operands(), std::vector<std::string>{"-p.txt"});
  EXPECT_FALSE(cue.given("--bom"));
  const Arguments live = read(
      "live", {"-s", "5", "--delay", "600", "--allow-host", "a", "--allow-host", "b", "--rules"});
  ASSERT_TRUE(live.runs());
  EXPECT_EQ(live.text("--simple"), "5");
  EXPECT_EQ(live.integer("--delay"), 600);
  EXPECT_EQ(live.values("--allow-host"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(live.given("--rules"));
  const Arguments tags =
      read("mixcloud", {"--audio", "a", "--name", "n", "--tags", " x, y ,,z", "p"});
  EXPECT_EQ(tags.values("--tags"), (std::vector<std::string>{"x", "y", "z"}));
}

// `first`, then the least that runs the command: each required option and the operand.
std::vector<std::string> least(const CommandDecl& command, std::vector<std::string> first) {
  for (const CommandOption& option : command.options) {
    if (option.required) first.insert(first.end(), {std::string(option.decl->name), "x"});
  }
  if (!command.operand.empty()) first.emplace_back("p.txt");
  return first;
}

TEST(OptionTable, EveryCommandThatUsesTheAccountsFileTakesAccounts) {
  for (const char* command :
       {"live", "login listenbrainz", "login lastfm", "login mixcloud", "login twitch",
        "login discord", "accounts", "logout", "scrobble", "mixcloud", "discord"}) {
    const Arguments arguments =
        read(command, least(*findCommandDecl(command), {"--accounts", "mine.json"}));
    EXPECT_TRUE(arguments.runs()) << command;
    EXPECT_EQ(arguments.text("--accounts"), "mine.json") << command;
  }
}

TEST(OptionTable, EveryUrlOptionIsCheckedAtStartAndHidesItsSecrets) {
  // A value, and why it is refused; empty when it is a URL.
  const std::pair<std::string, std::string> urls[] = {
      {"http://h/l b", "a space or control character in a URL"},
      {"http://[::1", "no closing ']'"},
      {"http://h:99999/", "a bad port"},
      {"http://", "no host"},
      {"ws://[::1", "no closing ']'"},
      {"https://dj:s3cret@h/", "user information in a URL"},
      {"https://h/p?token=s3cret x", "a space"},
      {"https://h/p?token=s3cret", ""},
      {"wss://[::1]:443/", ""},
  };
  int urlOptions = 0;
  for (const CommandDecl& command : commandDecls()) {
    for (const CommandOption& option : command.options) {
      if (option.decl->kind != OptionKind::kUrl) continue;
      ++urlOptions;
      const std::string name(option.decl->name);
      for (const auto& [url, why] : urls) {
        const bool rightScheme = option.decl->choices.starts_with(url.substr(0, 2));
        const Arguments arguments = read(command.name, least(command, {name, url}));
        EXPECT_EQ(arguments.runs(), why.empty() && rightScheme) << name << " " << url;
        if (arguments.runs()) continue;
        int status = 0;
        const std::string err = refusal(arguments, &status);
        EXPECT_EQ(status, kStatusUsage);
        EXPECT_EQ(err.find("setlist: " + name + " takes "), 0u) << err;
        EXPECT_NE(err.find(why.empty() ? "not " : why), std::string::npos) << err;
        EXPECT_EQ(err.find("s3cret"), std::string::npos) << err;
      }
    }
  }
  // --url of five logins, --auth-url of three, --twitch-url, --musicbrainz-url,
  // --coverart-url, --public-url
  EXPECT_EQ(urlOptions, 12);
}

TEST(OptionTable, AnotherSourceFillsFirstAndTheCommandLineReplaces) {
  Arguments live(*findCommandDecl("live"));
  ASSERT_TRUE(live.set("--allow-host", {"file1", "file2"}).ok());
  ASSERT_TRUE(live.set("--delay", {"5"}).ok());
  ASSERT_TRUE(live.set("--rules", {"true"}).ok());
  ASSERT_TRUE(live.set("--announce", {"false"}).ok());
  EXPECT_FALSE(live.set("--delay", {"601"}).ok());
  EXPECT_FALSE(live.set("--twitch-url", {"http://[::1"}).ok());
  EXPECT_FALSE(live.set("--bogus", {"1"}).ok());
  EXPECT_FALSE(live.set("--rules", {"yes"}).ok());
  read({"--allow-host", "line1", "--allow-host", "line2"}, &live);
  ASSERT_TRUE(live.runs());
  EXPECT_EQ(live.values("--allow-host"), (std::vector<std::string>{"line1", "line2"}));
  EXPECT_EQ(live.integer("--delay"), 5);
  EXPECT_TRUE(live.given("--rules"));
  EXPECT_FALSE(live.given("--announce"));
  // A required option from the other source is enough.
  Arguments lastfm(*findCommandDecl("login lastfm"));
  ASSERT_TRUE(lastfm.set("--api-key", {"k"}).ok());
  read({}, &lastfm);
  EXPECT_TRUE(lastfm.runs());
}

TEST(OptionTable, ClockAndSecondsReaders) {
  EXPECT_EQ(parseClock("00:00:00"), 0);
  EXPECT_EQ(parseClock("23:59:59"), 86399);
  for (const char* wrong : {"24:00:00", "12:60:00", "1:00:00", "12:00", "12-00-00", ""}) {
    EXPECT_EQ(parseClock(wrong), std::nullopt) << wrong;
  }
  EXPECT_EQ(parseMilliseconds("+3.5"), 3500);
  EXPECT_EQ(parseMilliseconds("-12"), -12000);
  EXPECT_EQ(parseMilliseconds("0.007"), 7);
  EXPECT_EQ(parseMilliseconds("999999.999"), 999999999);
  for (const char* wrong : {"1.2345", "1.", ".5", "1234567", "", "-", "1e3", "--1"}) {
    EXPECT_EQ(parseMilliseconds(wrong), std::nullopt) << wrong;
  }
}

}  // namespace
