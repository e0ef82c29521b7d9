#include "tracker/playlist.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

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
  formatInfoAt(at(2008, 3, 7, 21, 7, 42), "Marlow Tide", "Paper Harbour", "Night Ferries", "L");
  EXPECT_EQ(info, "2008.03.07 21:07:42");
  EXPECT_EQ(formattedInfo,
            "2008.03.07 21:07:42;L;\"Marlow Tide\";\"Paper Harbour\";\"Night Ferries\";"
            "2008;03;07;21;07;42");
  formatInfoAt(at(999, 12, 31, 0, 0, 5), "", "a;\"b", "", "R");
  EXPECT_EQ(formattedInfo, "0999.12.31 00:00:05;R;\"\";\"a;\"b\";\"\";0999;12;31;00;00;05");
}

TEST(Record, FormatInfoReadsTheClock) {
  const std::time_t before = std::time(nullptr);
  formatInfo("A", "S", "B", "R");
  ASSERT_NE(timeinfo, nullptr);
  EXPECT_GE(rawtime, before);
  EXPECT_LE(rawtime, before + 2);
  const std::string record = formattedInfo;
  const std::tm reading = *timeinfo;
  formatInfoAt(reading, "A", "S", "B", "R");
  EXPECT_EQ(formattedInfo, record);
}

TEST_F(PlaylistFile, CreatedWithHeaderThenAppended) {
  std::string name;
  ASSERT_EQ(createPlaylist(&name), FileResult::kOk);
  EXPECT_EQ(name.rfind("Playlist_", 0), 0u);
  EXPECT_EQ(contents(name), kPlaylistHeader);
  ASSERT_EQ(appendRecord(name, "Ar", "So", "Al", "L"), FileResult::kOk);
  ASSERT_EQ(appendRecord(name, "Ar2", "So2", "Al2", "R"), FileResult::kOk);
  const std::string text = contents(name);
  const std::string second = formattedInfo + "\r\n";
  EXPECT_EQ(text.substr(text.size() - second.size()), second);
  EXPECT_NE(second.find(";R;\"Ar2\";\"So2\";\"Al2\";"), std::string::npos);
  EXPECT_EQ(text.find("\r\n", kPlaylistHeader.size()) + 2 + second.size(), text.size());
}

TEST_F(PlaylistFile, AnExistingFileIsNeverEmptied) {
  std::string first, second;
  ASSERT_EQ(createPlaylist(&first), FileResult::kOk);
  ASSERT_EQ(appendRecord(first, "Ar", "So", "Al", "L"), FileResult::kOk);
  const std::string kept = contents(first);
  // Take the next name too, so that the second run surely meets a taken name.
  for (int s = 1; s <= 1; ++s) {
    std::tm next = *timeinfo;
    std::time_t t = std::mktime(&next) + s;
    std::ofstream(playlistFileName(*std::localtime(&t))) << "taken";
  }
  ASSERT_EQ(createPlaylist(&second), FileResult::kOk);
  EXPECT_NE(first, second);
  EXPECT_EQ(contents(first), kept);
  EXPECT_EQ(contents(second), kPlaylistHeader);
}

TEST_F(PlaylistFile, RemovedFileIsRecreatedWithoutHeader) {
  std::string name;
  ASSERT_EQ(createPlaylist(&name), FileResult::kOk);
  std::filesystem::remove(name);
  ASSERT_EQ(appendRecord(name, "A", "S", "B", "L"), FileResult::kOk);
  EXPECT_EQ(contents(name), formattedInfo + "\r\n");
}

TEST_F(PlaylistFile, FailuresAreReported) {
  std::filesystem::create_directory("sub");
  EXPECT_EQ(appendRecord("sub", "A", "S", "B", "L"), FileResult::kOpenFailed);
  EXPECT_EQ(appendRecord("missing/dir.txt", "A", "S", "B", "L"), FileResult::kOpenFailed);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(appendRecord("/dev/full", "A", "S", "B", "L"), FileResult::kWriteFailed);
  }
}
