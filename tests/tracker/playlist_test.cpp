#include "tracker/playlist.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "tracker/globals.h"

namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs each test in a fresh folder, since the playlist lies in the current folder.
class PlaylistFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("zv-playlist-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_, old_;
};

}  // namespace

TEST(PlaylistName, PadsAllButTheYear) {
  EXPECT_EQ(playlistFileName(at(2008, 3, 7, 21, 5, 9)), "Playlist_2008.03.07_21_05_09.txt");
  EXPECT_EQ(playlistFileName(at(2026, 12, 31, 0, 0, 0)), "Playlist_2026.12.31_00_00_00.txt");
  EXPECT_EQ(playlistFileName(at(999, 1, 1, 9, 9, 9)), "Playlist_999.01.01_09_09_09.txt");
}

TEST(Record, ColumnsFromOneTime) {
  const std::tm time = at(2008, 3, 7, 21, 7, 42);
  EXPECT_EQ(formatDateTime(time), "2008.03.07 21:07:42");
  EXPECT_EQ(formatRecord(time, Deck::kLeft, {"Marlow Tide", "Paper Harbour", "Night Ferries"}),
            "2008.03.07 21:07:42;L;\"Marlow Tide\";\"Paper Harbour\";\"Night Ferries\";"
            "2008;03;07;21;07;42");
  EXPECT_EQ(formatRecord(at(999, 12, 31, 0, 0, 5), Deck::kRight, {"", "a;\"b", ""}),
            "0999.12.31 00:00:05;R;\"\";\"a;\"b\";\"\";0999;12;31;00;00;05");
}

TEST(Record, FormatInfoReadsTheClock) {
  const std::time_t before = std::time(nullptr);
  formatInfo("A", "S", "B", "R");
  ASSERT_NE(timeinfo, nullptr);
  EXPECT_GE(rawtime, before);
  EXPECT_LE(rawtime, before + 2);
  EXPECT_EQ(info, formatDateTime(*timeinfo));
  EXPECT_EQ(formattedInfo, formatRecord(*timeinfo, Deck::kRight, {"A", "S", "B"}));
}

// An append through the disk calls, as a queue makes it: true when written.
bool append(const std::string& path, const std::string& record) {
  DiskCalls calls;
  std::optional<std::uint64_t> unfinished;
  const auto appended = appendText(calls, path, record + "\r\n", &unfinished);
  return appended && *appended == Appended::kWritten && !unfinished;
}

std::string created() {
  DiskCalls calls;
  const auto name = createPlaylist(calls);
  return name ? *name : "";
}

TEST_F(PlaylistFile, CreatedWithHeaderThenAppended) {
  const std::string name = created();
  EXPECT_EQ(name.rfind("Playlist_", 0), 0u);
  EXPECT_EQ(contents(name), kPlaylistHeader);
  const std::tm now = localTime(std::time(nullptr));
  ASSERT_TRUE(append(name, formatRecord(now, Deck::kLeft, {"Ar", "So", "Al"})));
  const std::string second = formatRecord(now, Deck::kRight, {"Ar2", "So2", "Al2"}) + "\r\n";
  ASSERT_TRUE(append(name, formatRecord(now, Deck::kRight, {"Ar2", "So2", "Al2"})));
  const std::string text = contents(name);
  EXPECT_EQ(text.substr(text.size() - second.size()), second);
  EXPECT_NE(second.find(";R;\"Ar2\";\"So2\";\"Al2\";"), std::string::npos);
  EXPECT_EQ(text.find("\r\n", kPlaylistHeader.size()) + 2 + second.size(), text.size());
}

TEST_F(PlaylistFile, AnExistingFileIsNeverEmptied) {
  const std::time_t now = std::time(nullptr);
  const std::string first = created();
  ASSERT_TRUE(append(first, "a record"));
  const std::string kept = contents(first);
  // Take the next names too, so that the second run surely meets a taken name.
  for (std::time_t t = now; t <= now + 1; ++t) {
    if (playlistFileName(localTime(t)) != first) {
      std::ofstream(playlistFileName(localTime(t))) << "taken";
    }
  }
  const std::string second = created();
  EXPECT_NE(first, second);
  EXPECT_EQ(contents(first), kept);
  EXPECT_EQ(contents(second), kPlaylistHeader);
}

TEST_F(PlaylistFile, RemovedFileIsRecreatedWithoutHeader) {
  const std::string name = created();
  std::filesystem::remove(name);
  ASSERT_TRUE(append(name, "a record"));
  EXPECT_EQ(contents(name), "a record\r\n");
}

TEST_F(PlaylistFile, CreatedFilesNeverReplaceOthers) {
  DiskCalls calls;
  EXPECT_TRUE(*createWithText(calls, "p.txt", "first"));
  EXPECT_FALSE(*createWithText(calls, "p.txt", "second"));
  EXPECT_EQ(contents("p.txt"), "first");
  EXPECT_FALSE(createWithText(calls, "missing/p.txt", "x").ok());
}

TEST_F(PlaylistFile, FailuresNameTheReason) {
  std::filesystem::create_directory("sub");
  EXPECT_FALSE(append("sub", "r"));
  EXPECT_FALSE(append("missing/dir.txt", "r"));
  if (std::filesystem::exists("/dev/full")) {
    DiskCalls calls;
    std::optional<std::uint64_t> unfinished;
    const auto appended = appendText(calls, "/dev/full", "r\r\n", &unfinished);
    ASSERT_FALSE(appended);
    EXPECT_EQ(failureLine("/dev/full", appended.error()), "/dev/full: No space left on device");
  }
}
