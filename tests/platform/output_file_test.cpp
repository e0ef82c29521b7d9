// A new version of a file: replaced whole on Commit, the old one kept otherwise, and no
// temporary file left behind in any case.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(OutputFile, ReplacesWholeOrKeepsTheOldVersion) {
  const fs::path dir = fs::temp_directory_path() / "zv-output-file-test";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  enum class End { kCommit, kDiscard, kDestroy };
  struct Case {
    const char* name;
    const char* target;
    End end;
    bool committed;
    std::string after;      // the target's contents afterwards
    bool readOnly = false;  // the user made the old version read-only
  };
  const Case cases[] = {
      {"commit", "a.txt", End::kCommit, true, "new"},
      {"commit a new file", "b.txt", End::kCommit, true, "new"},
      {"discard", "c.txt", End::kDiscard, false, "old"},
      {"destroyed before commit", "d.txt", End::kDestroy, false, "old"},
      {"a folder in the way", "folder", End::kCommit, false, ""},
      {"read-only, refused as cp would", "e.txt", End::kCommit, false, "old", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = dir / c.target;
    if (c.target != std::string("b.txt") && !fs::is_directory(target)) {
      std::ofstream(target, std::ios::binary) << "old";
    }
    const auto readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    if (c.readOnly) fs::permissions(target, readable);
    platform::Error err;
    bool committed = false;
    bool failed = false;  // a failure that names the target
    {
      platform::OutputFile file;
      if (!file.open(target.string(), &err)) {
        failed = true;  // a folder may be refused at once
      } else {
        ASSERT_TRUE(file.write("ne", &err) && file.write("w", &err)) << err.text;
        if (c.end == End::kCommit) failed = !(committed = file.commit(&err));
        if (c.end == End::kDiscard) file.discard();
      }
    }
    EXPECT_EQ(committed, c.committed) << err.text;
    if (failed) {
      EXPECT_NE(err.text.find(c.target), std::string::npos) << err.text;
    }
    EXPECT_EQ(failed, c.committed == false && c.end == End::kCommit);
    if (!fs::is_directory(target)) {
      EXPECT_EQ(contents(target), c.after);
    }
    // Writable again, so that it can be removed (Windows removes no read-only file).
    if (c.readOnly) fs::permissions(target, readable | fs::perms::owner_write);
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_EQ(entry.path().extension(), entry.path().filename() == "folder" ? "" : ".txt")
          << "left behind: " << entry.path();
    }
  }
  fs::remove_all(dir);
}

}  // namespace
