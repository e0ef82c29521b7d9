// The accounts file: written whole, owner-only, its folder made, through a link; a damaged
// or unreadable file, or a Twitch login or token of another form, is an error naming it,
// never taken as empty; leftovers of killed writes removed, a shared file warned of.
#include "online/accounts.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "platform/file_identity.h"

namespace {

namespace fs = std::filesystem;

fs::path freshFolder(const char* name) {
  const fs::path dir = fs::temp_directory_path() / name;
  fs::remove_all(dir);
  return dir;
}

TEST(Accounts, SavedWholeOwnerOnlyAndReadBack) {
  const fs::path dir = freshFolder("zv-accounts-test");
  const std::string path = (dir / "new" / "folders" / "accounts.json").string();
  ASSERT_TRUE(loadAccounts(path).ok());
  EXPECT_TRUE(loadAccounts(path)->empty());
  const std::vector<Account> accounts = {
      {"lb", "listenbrainz", "http://127.0.0.1:1/x", "dj \"q\"", {{"token", "t\\o\nk\xC3\xA9n"}}},
      {"lastfm", "lastfm", "", "", {{"api_key", "k"}, {"secret", "s"}, {"session_key", "sk"}}},
  };
  ASSERT_TRUE(saveAccounts(path, accounts).ok());
  const auto loaded = loadAccounts(path);
  ASSERT_TRUE(loaded.ok()) << loaded.error().text;
  ASSERT_EQ(loaded->size(), 2u);
  EXPECT_EQ((*loaded)[0].user, "dj \"q\"");
  EXPECT_EQ((*loaded)[0].values.at("token"), "t\\o\nk\xC3\xA9n");
  EXPECT_EQ(findAccount(*loaded, "lastfm")->values, accounts[1].values);
  EXPECT_EQ(findAccount(*loaded, "twitch"), nullptr);
  // A file someone made readable is made owner-only again by the next save.
  fs::permissions(path, fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
  ASSERT_TRUE(saveAccounts(path, {}).ok());
  platform::FileStatus status;
  ASSERT_EQ(platform::statPath(path, &status, nullptr), platform::StatResult::kFound);
  if (status.permissions != 0) {
    EXPECT_EQ(status.permissions, 0600u);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "new" / "folders"), {}), 1);
}

TEST(Accounts, DamagedOrUnreadableFileIsAnErrorNamingIt) {
  const fs::path dir = freshFolder("zv-accounts-damaged");
  fs::create_directories(dir / "folder.json");
  const char* cases[] = {
      "{\"accounts\": [",
      "[]",
      "{\"accounts\": {}}",
      "{\"accounts\": [{\"service\": \"lastfm\"}]}",
      "{\"accounts\": [{\"name\": \"a\", \"service\": \"b\", \"user\": 3}]}",
      "{\"accounts\": [{\"name\": \"a\", \"service\": \"b\", \"values\": {\"token\": 1}}]}",
      "{\"accounts\": [{\"name\": \"a\", \"service\": \"b\", \"values\": []}]}",
  };
  int n = 0;
  for (const char* text : cases) {
    const std::string path = (dir / std::to_string(++n)).string();
    std::ofstream(path, std::ios::binary) << text;
    const auto loaded = loadAccounts(path);
    ASSERT_FALSE(loaded.ok()) << text;
    EXPECT_EQ(loaded.error().subject, path);
    EXPECT_NE(loaded.error().text.find("damaged accounts file"), std::string::npos) << text;
  }
  const std::string folder = (dir / "folder.json").string();
  ASSERT_FALSE(loadAccounts(folder).ok());
  EXPECT_EQ(loadAccounts(folder).error().subject, folder);
  EXPECT_FALSE(saveAccounts(folder, {}).ok());
  EXPECT_TRUE(fs::is_directory(folder));
}

// A Twitch account whose login or token could carry a chat line of its own is refused at
// load, naming the account and never the secret.
TEST(Accounts, TwitchLoginAndTokensOfAnotherFormAreRefused) {
  const fs::path dir = freshFolder("zv-accounts-twitch");
  fs::create_directories(dir);
  // (user, access token, refresh token, taken)
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {"dj_bot_7", "acc3ss-Tok/+=", "r3fresh", true},
      {R"(djbot\r\nPRIVMSG #other :spam)", "acc3ss", "r3fresh", false},
      {"dj bot", "acc3ss", "r3fresh", false},
      {"dj-bot", "acc3ss", "r3fresh", false},
      {"", "acc3ss", "r3fresh", false},
      {"djbot", R"(acc3ss\r\nPRIVMSG #x :y)", "r3fresh", false},
      {"djbot", "acc3ss", "r3 fresh", false},
      {"djbot", "acc3ss\xC3\xA9", "r3fresh", false},
      {"djbot", "", "r3fresh", false},
  };
  int n = 0;
  for (const auto& [user, access, refresh, taken] : cases) {
    const std::string path = (dir / std::to_string(++n)).string();
    std::ofstream(path, std::ios::binary)
        << R"({"accounts": [{"name": "lb", "service": "listenbrainz", "values": {"token": "a b"}},
            {"name": "twitch", "service": "twitch", "user": ")"
        << user << R"(", "values": {"access_token": ")" << access << R"(", "refresh_token": ")"
        << refresh << "\"}}]}";
    fs::permissions(path, fs::perms(0600));
    const auto loaded = loadAccounts(path);
    ASSERT_EQ(loaded.ok(), taken) << user << " " << access << " " << refresh;
    if (taken) continue;
    EXPECT_NE(loaded.error().text.find("account 2 (twitch): its "), std::string::npos)
        << loaded.error().text;
    EXPECT_EQ(loaded.error().text.find("acc3ss"), std::string::npos);
    EXPECT_EQ(loaded.error().text.find("r3"), std::string::npos);
  }
}

#ifndef _WIN32
// The file as the system holds it: written through a link, temporary files of killed
// writes removed, a file others may read warned of, the folder checked before a login.
TEST(Accounts, FileThroughLinksLeftoversAndPermissions) {
  const fs::path dir = freshFolder("zv-accounts-file");
  fs::create_directories(dir / "real");
  const fs::path target = dir / "real" / "secrets.json";
  const fs::path link = dir / "accounts.json";
  std::ofstream(target)
      << R"({"accounts": [{"name": "lb", "service": "lb", "values": {"token": "old"}}]})";
  fs::create_symlink(target, link);
  ASSERT_TRUE(saveAccounts(link.string(), {{"lb", "lb", "", "", {{"token", "new"}}}}).ok());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(loadAccounts(target.string())->at(0).values.at("token"), "new");

  // Temporary files beside the target: (name, kept). A process id above any the system
  // gives is one that no longer runs.
  const std::string ours = std::to_string(getpid());
  const std::pair<std::string, bool> temporaries[] = {
      {"secrets.json.999999999.3.tmp", false},   {"secrets.json.999999998.0.tmp", false},
      {"secrets.json." + ours + ".0.tmp", true}, {"secrets.json.old.tmp", true},
      {"secrets.json.999999999.tmp", true},      {"other.json.999999999.3.tmp", true},
  };
  for (const bool reading : {true, false}) {
    for (const auto& [name, kept] : temporaries) std::ofstream(dir / "real" / name) << "token";
    if (reading) {
      ASSERT_TRUE(loadAccounts(link.string()).ok());
    } else {
      ASSERT_TRUE(saveAccounts(link.string(), {}).ok());
    }
    for (const auto& [name, kept] : temporaries)
      EXPECT_EQ(fs::exists(dir / "real" / name), kept) << name << (reading ? " read" : " write");
  }

  // (permission bits, warned)
  const std::pair<fs::perms, bool> modes[] = {
      {fs::perms(0600), false}, {fs::perms(0640), true}, {fs::perms(0604), true}};
  for (const auto& [mode, warned] : modes) {
    const fs::path file = dir / ("mode" + std::to_string(static_cast<int>(mode)) + ".json");
    std::ofstream(file) << R"({"accounts": []})";
    fs::permissions(file, mode);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loadAccounts(file.string()).ok());
    ASSERT_TRUE(loadAccounts(file.string()).ok());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        said.find("warning: " + file.string() + ": other users may read") != std::string::npos,
        warned)
        << said;
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }

  // Checked for write before a secret is asked for: nothing is left behind.
  EXPECT_TRUE(checkAccountsWritable((dir / "new" / "accounts.json").string()).ok());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "new"), {}), 0);
  const auto blocked = checkAccountsWritable((target / "accounts.json").string());
  ASSERT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.error().subject, (target / "accounts.json").string());
}

TEST(Accounts, DefaultPathFollowsTheXdgRules) {
  setenv("XDG_CONFIG_HOME", "/x/conf", 1);
  setenv("HOME", "/home/dj", 1);
  EXPECT_EQ(defaultAccountsPath(), "/x/conf/zorvanthelix/accounts.json");
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(defaultAccountsPath(), "/home/dj/.config/zorvanthelix/accounts.json");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(defaultAccountsPath(), "/home/dj/.config/zorvanthelix/accounts.json");
  unsetenv("HOME");
  EXPECT_EQ(defaultAccountsPath(), "");
  EXPECT_FALSE(loadAccounts(defaultAccountsPath()).ok());
}
#endif

}  // namespace
