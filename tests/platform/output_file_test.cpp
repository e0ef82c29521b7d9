// A new version of a file: replaced whole on Commit, the old one kept otherwise, and no
// temporary file left behind in any case.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/file_identity.h"

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
      if (platform::Status opened = file.open(target.string()); !opened) {
        err = opened.error();
        failed = true;  // a folder may be refused at once
      } else {
        platform::Status written = file.write("ne");
        if (written) written = file.write("w");
        ASSERT_TRUE(written) << written.error().text;
        if (c.end == End::kCommit) {
          const platform::Status done = file.commit();
          committed = done.ok();
          failed = !committed;
          if (failed) err = done.error();
        }
        if (c.end == End::kDiscard) file.discard();
      }
    }
    EXPECT_EQ(committed, c.committed) << err.text;
    if (failed) {
      EXPECT_NE(err.subject.find(c.target), std::string::npos) << err.subject;
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

// Two names of one file, whatever the form of the names; a file yet to be made by its text.
TEST(FileIdentity, SameFileByIdentityOrPlace) {
  const fs::path dir = fs::temp_directory_path() / "zv-file-identity-test";
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  std::ofstream(dir / "a.txt") << "a";
  std::ofstream(dir / "b.txt") << "b";
  std::error_code ec;
  fs::create_hard_link(dir / "a.txt", dir / "hard.txt", ec);
  const bool hardLink = !ec;
  fs::create_symlink(dir / "a.txt", dir / "soft.txt", ec);
  const bool symlink = !ec;
  const std::string d = dir.string() + "/";
  struct Case {
    std::string a, b;
    bool same;
    bool run;
  };
  const Case cases[] = {
      {d + "a.txt", d + "a.txt", true, true},        {d + "a.txt", d + "sub/../a.txt", true, true},
      {d + "a.txt", d + "b.txt", false, true},       {d + "a.txt", d + "hard.txt", true, hardLink},
      {d + "soft.txt", d + "a.txt", true, symlink},  {d + "new.txt", d + "./new.txt", true, true},
      {d + "new.txt", d + "other.txt", false, true}, {d + "new.txt", d + "a.txt", false, true},
  };
  for (const Case& c : cases) {
    if (!c.run) continue;
    EXPECT_EQ(platform::sameFilePath(c.a, c.b), c.same) << c.a << " " << c.b;
  }
  fs::remove_all(dir);
}

}  // namespace
