// The settings file: the values each file gives a command, under the command line; each
// kind of mistake told with its FILE:LINE before the command runs; secrets refused; the
// starter file read back.
#include "cli/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A settings file of the running test's own: the tests run side by side, each a process.
std::string tomlPath() {
  return testing::TempDir() + testing::UnitTest::GetInstance()->current_test_info()->name() +
         ".toml";
}

// The file's text in tomlPath(), then "COMMAND --settings FILE ARGS..." read over it.
Arguments readWith(const std::string& toml, const std::string& command,
                   std::vector<std::string> args) {
  const std::string path = tomlPath();
  std::ofstream(path, std::ios::binary) << toml;
  std::vector<std::string> words{command, "--settings", path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  return readCommandLine(command, static_cast<int>(argv.size()), argv.data());
}

std::string joined(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& value : values) text += (text.empty() ? "" : "|") + value;
  return text;
}

TEST(SettingsFile, GivesEachCommandItsValuesUnderTheCommandLine) {
  struct Case {
    std::string toml, command;
    std::vector<std::string> args;
    std::string option, values, place;  // values joined by '|'; place "" for the command line
  };
  const std::string live =
      "# the night\n[live]\nserve = \"0.0.0.0:8040\"\ndelay = 5\nannounce = true\n"
      "allow-host = [\"djlaptop.lan\", \"dj.local\"]\n";
  const std::string accounts = "[all]\naccounts = \"a.json\"\n[scrobble]\naccounts = \"b.json\"\n";
  const Case cases[] = {
      {live, "live", {}, "--serve", "0.0.0.0:8040", ":3"},
      {live, "live", {}, "--delay", "5", ":4"},
      {live, "live", {}, "--announce", "true", ":5"},
      {live, "live", {}, "--allow-host", "djlaptop.lan|dj.local", ":6"},
      {live, "live", {"--delay", "9"}, "--delay", "9", ""},
      {live, "live", {"--allow-host", "x.lan"}, "--allow-host", "x.lan", ""},
      {live, "live", {"--allow-host=x", "--allow-host", "y"}, "--allow-host", "x|y", ""},
      {"[live]\nannounce = false\n", "live", {"--announce"}, "--announce", "true", ""},
      {"[live]\nannounce = false\n", "live", {}, "--announce", "", ":2"},
      {"[live]\nformat = \"♪ {artist} – {song} 宇多田\"\n",
       "live",
       {},
       "--format",
       "♪ {artist} – {song} 宇多田",
       ":2"},
      {"[live]\nsimple = 4\n", "live", {}, "--simple", "4", ":2"},
      {accounts, "live", {}, "--accounts", "a.json", ":2"},
      {accounts, "scrobble", {"s"}, "--accounts", "b.json", ":4"},
      {accounts, "logout", {"n", "--accounts", "c.json"}, "--accounts", "c.json", ""},
      {"[login.lastfm]\nname = \"mine\"\n",
       "login lastfm",
       {"--api-key", "k"},
       "--name",
       "mine",
       ":2"},
      {"[login]\nlastfm.name = \"m\"\n", "login lastfm", {"--api-key", "k"}, "--name", "m", ":2"},
      {"[cue]\naudio = \"a.flac\"\nstart = 21:30:00\nshift = -3.5\n",
       "cue",
       {"p"},
       "--start",
       "21:30:00",
       ":3"},
      {"[cue]\naudio = \"a.flac\"\nstart = \"21:30:00\"\nshift = -3.5\n",
       "cue",
       {"p"},
       "--shift",
       "-3.5",
       ":4"},
      {"[mixcloud]\ntags = [\"house\", \"deep, tech\"]\n",
       "mixcloud",
       {"--audio", "a", "--name", "n", "p"},
       "--tags",
       "house|deep|tech",
       ":2"},
  };
  for (const Case& c : cases) {
    const Arguments arguments = readWith(c.toml, c.command, c.args);
    ASSERT_TRUE(arguments.runs()) << c.toml;
    EXPECT_EQ(joined(arguments.values(c.option)), c.values) << c.toml;
    const std::string& place = arguments.origin(c.option).place;
    EXPECT_EQ(place.empty() ? "" : place.substr(place.rfind(':')), c.place) << c.toml;
  }
}

TEST(SettingsFile, EachMistakeIsStatus2WithItsPlaceBeforeAnythingStarts) {
  struct Case {
    std::string toml, command, message;  // message after "setlist: FILE:"
  };
  const char* kSecret =
      ": secrets are not kept in the settings file; setlist login keeps them in the accounts file";
  const Case cases[] = {
      {"[live\ndelay = 5\n", "live", "1: "},
      {"[live]\ndelay = 5\ndelay = 6\n", "live", "3: "},
      {"[live]\nformat = \"ok ♪\"\n Ќay = 5\n", "live", "3: Error while parsing root table"},
      {"[live]\n\ndelya = 5\n", "live", "3: unknown key [live] delya; did you mean `delay`?"},
      {"[liev]\ndelay = 5\n", "live", "1: unknown table [liev]; did you mean `live`?"},
      {"[live.more]\nx = 1\n", "live", "1: unknown table [live.more]"},
      {"[settings]\ninit = true\n", "live", "1: unknown table [settings]"},
      {"delay = 5\n", "live", "1: `delay` is not under a command's table, such as [live]"},
      {"[live]\nsettings = \"x\"\n", "live", "2: unknown key [live] settings"},
      {"[all]\nname = \"x\"\n", "live", "2: unknown key [all] name"},
      {"[csv]\nraw = true\n[live]\ndelay = \"5\"\n", "csv",
       "4: [live] delay takes whole seconds from 0 to 600, not a string"},
      {"[live]\ndelay = 700\n", "live",
       "2: [live] delay takes whole seconds from 0 to 600, not '700'"},
      {"[live]\ndelay = [5]\n", "live",
       "2: [live] delay takes whole seconds from 0 to 600, not a list"},
      {"[live]\nannounce = \"yes\"\n", "live", "2: [live] announce takes a value, not a string"},
      {"[live]\ncooldown = 1.5\n", "live", "2: [live] cooldown takes whole seconds"},
      {"[live]\nnow-playing = \"\"\n", "live", "2: [live] now-playing needs a value"},
      {"[cue]\nshift = 1.2345\n", "cue", "2: [cue] shift takes seconds such as -12 or +3.5"},
      {"[cue]\nstart = 21:30:00.5\n", "cue", "2: [cue] start takes a clock time HH:MM:SS"},
      {"[live]\ntwitch-url = \"https://h\"\n", "live", "2: [live] twitch-url takes a ws://"},
      {"[live]\ntwitch-token = \"x\"\n", "live", "2: [live] twitch-token" + std::string(kSecret)},
      {"[login.lastfm]\napi-key = \"x\"\n", "login lastfm",
       "2: [login.lastfm] api-key" + std::string(kSecret)},
      {"[live]\nPassword = 1\n", "live", "2: [live] Password" + std::string(kSecret)},
      {"[live]\nformat = \"https://discord.com/api/webhooks/1/x\"\n", "live",
       "2: [live] format" + std::string(kSecret)},
      {"[clena]\n", "live", "1: unknown table [clena]; did you mean `clean`?"},
      {"[clean]\nphrase = [\"x\"]\n", "tracklist",
       "2: unknown key [clean] phrase; did you mean `phrases`?"},
      {"[clean]\nphrases = [\"ok\",\n  \" \"]\n", "live", "3: [clean] phrases: an empty phrase"},
      {"[clean]\nhide = [1]\n", "live", "2: [clean] hide takes texts, not a whole number"},
      {"[clean]\npatterns = [\"(\"]\n", "json",
       "2: [clean] patterns: '(' is not a regular expression: "},
      {"[clean]\nhide = '(a)\\1'\n", "live",
       "2: [clean] hide: '(a)\\1' is a back-reference, which cleaning does not take"},
      {"[clean]\nhide = 'x\\11111111111111111111'\n", "live",
       "2: [clean] hide: 'x\\11111111111111111111' is a repeat count or back-reference of "
       "more than 4 digits"},
      {"[clean]\npatterns = 'a{1,123456}'\n", "live",
       "2: [clean] patterns: 'a{1,123456}' is a repeat count or back-reference of more than 4 "
       "digits"},
      {"[clean]\npatterns = '((a?){99}){99}'\n", "live",
       "2: [clean] patterns: '((a?){99}){99}' is too large: it repeats too much"},
      {"[clean]\npatterns = '" + std::string(201, 'a') + "'\n", "live",
       "2: [clean] patterns: '" + std::string(201, 'a') + "' is longer than 200 bytes"},
  };
  const std::string path = tomlPath();
  for (const Case& c : cases) {
    const Arguments arguments = readWith(c.toml, c.command, {"--api-key", "k", "p"});
    ASSERT_FALSE(arguments.runs()) << c.toml;
    CaptureStderr();
    EXPECT_EQ(arguments.report(), kStatusUsage) << c.toml;
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(err.find("setlist: " + path + ":" + c.message), 0u) << err;
    EXPECT_EQ(err.find("discord.com"), std::string::npos) << err;
  }
}

TEST(SettingsFile, AValueItsCommandRefusesNamesTheFilesPlace) {
  const std::string toml = "[live]\n\nserve = \"x:y\"\n";
  const std::string place = tomlPath() + ":3";
  ASSERT_TRUE(readWith(toml, "live", {}).runs());
  platform::Error error = wrongValue("--serve", "x:y");
  EXPECT_EQ(error.subject, place);
  EXPECT_EQ(error.text.find("[live] serve takes [ADDRESS:]PORT"), 0u) << error.text;
  ASSERT_TRUE(readWith(toml, "live", {"--serve", "z"}).runs());
  EXPECT_EQ(wrongValue("--serve", "z").subject, "");
}

TEST(SettingsFile, AMissingFileIsAnErrorOnlyWhenNamed) {
  const std::string folder = testing::TempDir() + "settings-home";
  std::filesystem::remove_all(folder);
  // The default file's folder, empty.
#ifdef _WIN32
  _putenv_s("APPDATA", folder.c_str());
#else
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
#endif
  std::vector<std::string> words{"live", "--delay", "3"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  EXPECT_TRUE(readCommandLine("live", 3, argv.data()).runs());
  words = {"live", "--settings", folder + "/none.toml"};
  argv = {words[0].data(), words[1].data(), words[2].data()};
  const Arguments named = readCommandLine("live", 3, argv.data());
  ASSERT_FALSE(named.runs());
  CaptureStderr();
  EXPECT_EQ(named.report(), kStatusUsage);
  EXPECT_EQ(GetCapturedStderr().find("setlist: " + folder + "/none.toml: cannot read"), 0u);
  // Help is had whatever the file holds.
  const Arguments help = readWith("[live\n", "live", {"--help"});
  EXPECT_FALSE(help.runs());
  testing::internal::CaptureStdout();
  EXPECT_EQ(help.report(), kStatusOk);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("usage: setlist live "), 0u);
}

TEST(SettingsFile, TheStarterFileReadsBackCommentedAndUncommented) {
  const std::string starter = starterSettings();
  auto none = parseSettings(starter, "starter.toml");
  ASSERT_TRUE(none) << none.error().text;
  EXPECT_TRUE(none->empty());
  std::string uncommented;
  std::size_t lines = 0;
  for (std::size_t start = 0; start < starter.size();) {
    const std::size_t end = starter.find('\n', start) + 1;
    const std::string line = starter.substr(start, end - start);
    const bool setting = line.starts_with("# ") && line.find(" = ") != std::string::npos;
    uncommented += setting ? line.substr(2) : line;
    lines += setting ? 1 : 0;
    start = end;
  }
  CleanRules clean;
  auto all = parseSettings(uncommented, "all.toml", &clean);
  ASSERT_TRUE(all) << all.error().subject << " " << all.error().text;
  // One example of each [clean] key.
  EXPECT_EQ(clean.phrases.size() + clean.patterns.size() + clean.hide.size(), 3u);
  EXPECT_EQ(all->size() + 3, lines);
  EXPECT_GT(lines, 50u);
  for (const CommandDecl& command : commandDecls()) {
    Arguments arguments(command);
    EXPECT_TRUE(applySettings(*all, &arguments).ok()) << command.name;
    if (!isSettable(command)) continue;
    for (const CommandOption& option : command.options) {
      // Every option but the one that looks like a secret, --api-key, is in it.
      if (!isSettable(*option.decl) || option.decl->name == "--api-key") continue;
      EXPECT_NE(starter.find("\n# " + std::string(option.decl->help) + "\n"), std::string::npos);
      EXPECT_FALSE(arguments.origin(option.decl->name).place.empty())
          << command.name << " " << option.decl->name;
    }
  }
}

}  // namespace
