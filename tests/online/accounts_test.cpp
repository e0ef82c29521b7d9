// The accounts file: written whole, owner-only, its folder made; a damaged or unreadable
// file is an error naming it, never taken as empty.
#include "online/accounts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

#ifndef _WIN32
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
