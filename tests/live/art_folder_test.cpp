// live's art folder: the size rule, the files kept, read back and dropped.
#include "live/art_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

fs::path freshFolder(const std::string& name) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return fs::temp_directory_path() / ("zv-" + name + "-" + std::to_string(stamp));
}

ArtResult image(std::string bytes) {
  return {
      ArtResult::Kind::kFound, std::make_shared<const ArtImage>(*imageOf(std::move(bytes))), {}};
}

TEST(ArtFolder, TheOldestGoFirstUntilTheRestFit) {
  // the files (name, size, time), the limit, the names removed in order
  struct Case {
    std::vector<KeptArtFile> files;
    std::uint64_t limit;
    std::vector<std::string> removed;
  };
  const Case cases[] = {
      {{}, 10, {}},
      {{{"a", 5, 1}, {"b", 5, 2}}, 10, {}},
      {{{"a", 5, 3}, {"b", 5, 1}, {"c", 1, 2}}, 10, {"b"}},
      {{{"a", 5, 3}, {"b", 1, 1}, {"c", 5, 2}}, 5, {"b", "c"}},
      {{{"b", 4, 1}, {"a", 4, 1}, {"c", 4, 1}}, 4, {"a", "b"}},
      {{{"big", 20, 9}, {"small", 1, 1}}, 10, {"small", "big"}},
  };
  for (const auto& [files, limit, removed] : cases) {
    EXPECT_EQ(filesToEvict(files, limit), removed) << files.size() << " files, " << limit;
  }
}

TEST(ArtFolder, NamesAreTheKeysDigestInHex) {
  EXPECT_EQ(artFileName("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad.art");
  EXPECT_NE(artFileName("daft punk\ndiscovery"), artFileName("daft punk\nhomework"));
  EXPECT_EQ(artFileName("../../x").find_first_of("./\\"), 64u);
}

TEST(ArtFolder, KeepsArtAndNoArtDropsWhatIsNoImageAndTheLeastUsed) {
  const fs::path base = freshFolder("art");
  const fs::path art = base / "art";
  ArtFolder folder(art.string(), 1000);
  const std::string jpeg = "\xFF\xD8\xFF" + std::string(397, 'j');
  const std::string png = "\x89PNG\r\n\x1A\n" + std::string(392, 'p');
  ASSERT_TRUE(folder.keep("a", image(jpeg)).ok());  // creates the folder
  ASSERT_TRUE(folder.keep("b", image(png)).ok());
  ASSERT_TRUE(folder.keep("none", ArtResult{}).ok());
  std::ofstream(art / artFileName("junk")) << "<html>not found</html>";
  std::ofstream(art / "notes.txt") << std::string(2000, 'n');  // not the folder's: kept
  // b was written before a, but is read after it: a goes first when c comes.
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(art / artFileName("a"), now - std::chrono::hours(1));
  fs::last_write_time(art / artFileName("b"), now - std::chrono::hours(2));
  // (key, what find gives: the image's type, "none", or "" for nothing)
  const std::vector<std::pair<std::string, std::string>> tables[] = {
      {{"b", "image/png"}, {"none", "none"}, {"junk", ""}, {"other", ""}},
      {{"a", ""}, {"b", "image/png"}, {"c", "image/jpeg"}, {"none", "none"}, {"junk", ""}}};
  for (const auto& table : tables) {
    for (const auto& [key, expected] : table) {
      const std::optional<ArtResult> found = folder.find(key);
      EXPECT_EQ(!found ? "" : found->image ? found->image->type : "none", expected) << key;
      if (found && found->image) {
        EXPECT_EQ(found->image->bytes, key == "b" ? png : jpeg);
      }
    }
    if (&table == &tables[0]) {
      ASSERT_TRUE(folder.keep("c", image(jpeg)).ok());  // 1207 bytes
    }
  }
  EXPECT_FALSE(fs::exists(art / artFileName("junk")));
  EXPECT_TRUE(fs::exists(art / "notes.txt"));
  // A folder that cannot be made: the error names the path.
  std::ofstream(base / "file") << "x";
  const platform::Status failed = ArtFolder((base / "file" / "art").string()).keep("a", {});
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.error().subject.find((base / "file").string()), std::string::npos);
  fs::remove_all(base);
}

}  // namespace
