// FileIO on real files in a fresh temporary directory per test.
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_system.h"

namespace fs = std::filesystem;

namespace {

class FileIOTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("zv_fileio_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Make(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }

  // Sets a file's size as the program itself does. std::filesystem::resize_file goes
  // through MinGW's C runtime, whose resize looks for the file's volume first and crashes
  // when Wine lists no volume (seen now and then under Wine).
  static void Resize(const std::string& path, std::uint64_t size) {
    platform::File file;
    ASSERT_EQ(platform::openForAppend(path, &file, nullptr), platform::OpenResult::kOpened);
    EXPECT_TRUE(platform::truncateFile(file, size));
    EXPECT_TRUE(platform::closeFile(file));
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

// Bytes that text mode would alter on Windows.
const std::string kBinary("a\r\nb\0c\x1a\nd", 9);

TEST_F(FileIOTest, WholeFilesRoundTripSilently) {
  FileIO io;
  testing::internal::CaptureStderr();
  ASSERT_EQ(io.write_file(Path("f"), kBinary.data(), static_cast<long>(kBinary.size())), 0);
  EXPECT_EQ(Contents(Path("f")), kBinary);
  ASSERT_EQ(io.read_file(Path("f")), 0);
  EXPECT_EQ(std::string(io.buffer.get(), static_cast<std::size_t>(io.filesize)), kBinary);
  // A second read replaces the first file's array.
  ASSERT_EQ(io.read_file(Make("g", "xyz")), 0);
  EXPECT_EQ(io.filesize, 3);
  EXPECT_EQ(std::string(io.buffer.get(), 3), "xyz");
  // An empty file: size 0 and an array of no bytes.
  ASSERT_EQ(io.write_file(Path("e"), nullptr, 0), 0);
  io.filesize = 7;
  EXPECT_EQ(io.get_filesize(Path("e")), 0);
  EXPECT_EQ(io.filesize, 0);
  ASSERT_EQ(io.read_file(Path("e")), 0);
  EXPECT_NE(io.buffer, nullptr);
  EXPECT_EQ(io.get_filesize(Path("f")), 0);
  EXPECT_EQ(io.filesize, 9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(FileIOTest, MissingFilesAndDirectoriesFailWithoutChanges) {
  FileIO io;
  ASSERT_EQ(io.read_file(Make("f", "abc")), 0);
  const char* const kept = io.buffer.get();
  for (const std::string& path : {Path("missing"), dir_.string()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(io.get_filesize(path), -1);
    EXPECT_EQ(io.read_file(path), -1);
    EXPECT_EQ(io.filesize, 3);
    EXPECT_EQ(io.buffer.get(), kept);
  }
  io.mtime = 5;
  testing::internal::CaptureStderr();
  EXPECT_EQ(io.file_stat(Path("missing")), -1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("stat: ", 0), 0u) << err;
  EXPECT_EQ(err.back(), '\n');
  EXPECT_EQ(io.mtime, 5);
  EXPECT_EQ(io.date_text, "");
  EXPECT_EQ(io.delete_file(Path("missing")), -1);
  EXPECT_EQ(io.delete_file(dir_.string()), -1);
  EXPECT_TRUE(fs::is_directory(dir_));
  EXPECT_EQ(io.delete_file(Path("f")), 0);
  EXPECT_FALSE(fs::exists(Path("f")));
}

TEST_F(FileIOTest, FailedWritesSayIOError) {
  FileIO io;
  std::vector<std::string> targets = {Path("no/such/dir/f")};
  if (fs::exists("/dev/full")) targets.push_back("/dev/full");  // a full disk
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    testing::internal::CaptureStderr();
    EXPECT_EQ(io.write_file(target, kBinary.data(), 9), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nI/O error\n");
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(io.write_file(Path("neg"), kBinary.data(), -1), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nI/O error\n");
  EXPECT_FALSE(fs::exists(Path("neg")));
}

TEST_F(FileIOTest, ReadBlocksFollowTheLayout) {
  FileIO io;
  char block[8] = {};
  ASSERT_EQ(io.read_block_init(Make("ten", "0123456789"), nullptr, 4), 0);
  EXPECT_EQ(io.block_count, 2);
  EXPECT_EQ(io.last_block_size, 2);
  EXPECT_EQ(io.read_block(block, 2), 2);  // any order
  EXPECT_EQ(std::string(block, 2), "89");
  EXPECT_EQ(io.read_block(block, 0), 4);
  EXPECT_EQ(std::string(block, 4), "0123");
  EXPECT_EQ(io.read_block(block, 1), 4);
  EXPECT_EQ(std::string(block, 4), "4567");
  EXPECT_EQ(io.read_block(block, 3), -1);
  EXPECT_EQ(io.read_block(block, -1), -1);
  // Whole-file operations meanwhile leave the block file alone.
  EXPECT_EQ(io.read_file(Make("other", "zz")), 0);
  EXPECT_EQ(io.read_block(block, 1), 4);
  EXPECT_EQ(std::string(block, 4), "4567");

  // A whole number of blocks has no partial block.
  ASSERT_EQ(io.read_block_init(Make("eight", "abcdefgh"), nullptr, 4), 0);
  EXPECT_EQ(io.block_count, 2);
  EXPECT_EQ(io.last_block_size, 0);
  EXPECT_EQ(io.read_block(block, 2), -1);
  EXPECT_EQ(io.read_block(block, 1), 4);
  EXPECT_EQ(std::string(block, 4), "efgh");
}

TEST_F(FileIOTest, BadBlockSetupsKeepTheLayout) {
  FileIO io;
  char block[4] = {};
  EXPECT_EQ(io.read_block(block, 0), -1);  // no layout yet
  ASSERT_EQ(io.read_block_init(Make("ten", "0123456789"), nullptr, 4), 0);
  EXPECT_EQ(io.read_block_init(Path("missing"), nullptr, 4), -1);
  EXPECT_EQ(io.read_block_init(Path("ten"), nullptr, 0), -1);
  EXPECT_EQ(io.read_block_init(Path("ten"), nullptr, -4), -1);
  EXPECT_EQ(io.write_block_init(Path("no/dir/out"), nullptr, 3, 9), -1);
  EXPECT_EQ(io.write_block_init(Path("out"), nullptr, 0, 9), -1);
  EXPECT_EQ(io.write_block_init(Path("out"), nullptr, 3, -1), -1);
  EXPECT_FALSE(fs::exists(Path("out")));
  EXPECT_EQ(io.filesize, 10);
  EXPECT_EQ(io.block_size, 4);
  EXPECT_EQ(io.block_count, 2);
  EXPECT_EQ(io.last_block_size, 2);
  EXPECT_EQ(io.read_block(block, 2), 2);  // the earlier block file still serves
  EXPECT_EQ(std::string(block, 2), "89");

  // A read that falls short fails, and the next block still works.
  Resize(Path("ten"), 6);
  EXPECT_EQ(io.read_block(block, 1), -1);
  EXPECT_EQ(io.read_block(block, 0), 4);
  EXPECT_EQ(std::string(block, 4), "0123");
  // close() ends the block file.
  EXPECT_EQ(io.close(), 0);
  EXPECT_EQ(io.read_block(block, 0), -1);
  EXPECT_EQ(io.close(), 0);
}

TEST_F(FileIOTest, WriteBlocksInAnyOrderAndCloseCompletesTheFile) {
  FileIO io;
  ASSERT_EQ(io.write_block_init(Make("out", "old contents here"), nullptr, 4, 10), 0);
  EXPECT_EQ(io.filesize, 10);
  EXPECT_EQ(io.block_count, 2);
  EXPECT_EQ(io.last_block_size, 2);
  EXPECT_EQ(io.write_block("89??", 2), 2);
  EXPECT_EQ(io.write_block("0123", 0), 4);
  EXPECT_EQ(io.write_block("4567", 1), 4);
  EXPECT_EQ(io.write_block("xxxx", 3), -1);
  EXPECT_EQ(io.write_block("xxxx", -1), -1);
  EXPECT_EQ(io.close(), 0);
  EXPECT_EQ(Contents(Path("out")), "0123456789");
  EXPECT_EQ(io.write_block("0123", 0), -1);  // closed

  // A new output block file completes the earlier one.
  ASSERT_EQ(io.write_block_init(Path("a"), nullptr, 2, 2), 0);
  EXPECT_EQ(io.write_block("ab", 0), 2);
  ASSERT_EQ(io.write_block_init(Path("b"), nullptr, 2, 2), 0);
  EXPECT_EQ(Contents(Path("a")), "ab");
}

TEST_F(FileIOTest, WritesToAFullDiskFail) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  FileIO io;
  ASSERT_EQ(io.write_block_init("/dev/full", nullptr, 4, 8), 0);
  EXPECT_EQ(io.write_block("0123", 0), -1);
  EXPECT_EQ(io.write_block("4567", 1), -1);
  EXPECT_EQ(io.close(), 0);  // nothing left unwritten
}

TEST_F(FileIOTest, FileStatGivesModificationTimeInUtc) {
  FileIO io;
  const std::string path = Make("f", "12345");
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(784716577));
  fs::last_write_time(path, fs::file_time_type::clock::from_sys(when));
  testing::internal::CaptureStderr();
  ASSERT_EQ(io.file_stat(path), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(io.mtime, 784716577);
  EXPECT_EQ(io.date_text, "Sun, 13 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(io.filesize, 5);
}

TEST_F(FileIOTest, SizesOf2GiBOrMoreDoNotFit) {
  FileIO io;
  const std::string big = Path("big");
  { std::ofstream create(big, std::ios::binary); }
  Resize(big, 2147483647);  // sparse where the file system allows
  ASSERT_EQ(io.get_filesize(big), 0);
  EXPECT_EQ(io.filesize, 2147483647);

  Resize(big, 2147483648);
  ASSERT_EQ(io.read_file(Make("small", "abc")), 0);
  EXPECT_EQ(io.get_filesize(big), -1);
  EXPECT_EQ(io.read_file(big), -1);
  EXPECT_EQ(io.read_block_init(big, nullptr, 1 << 20), -1);
  EXPECT_EQ(io.filesize, 3);
  EXPECT_EQ(std::string(io.buffer.get(), 3), "abc");
  EXPECT_EQ(io.file_stat(big), -1);
  EXPECT_NE(io.date_text, "");
  EXPECT_EQ(io.filesize, 3);
}

TEST_F(FileIOTest, DirListGivesSortedNames) {
  FileIO io;
  for (const char* name : {"b", "a", "C", ".hidden"}) Make(name, "");
  fs::create_directory(dir_ / "dir");
  EXPECT_EQ(io.dir_list(dir_.string()), ".hidden\nC\na\nb\ndir\n");  // byte order
  EXPECT_EQ(io.dir_list(Path("dir")), "");
  EXPECT_EQ(io.dir_list(Path("a")), "");
  EXPECT_EQ(io.dir_list(Path("missing")), "");
}

}  // namespace
