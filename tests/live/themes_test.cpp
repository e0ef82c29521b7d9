// Which theme --theme names, and the export of a built-in theme to a new folder.
#include "live/themes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string contentsOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Themes, FindsBuiltInThemesAndFolders) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path base = fs::temp_directory_path() / ("zv-themes-" + std::to_string(stamp));
  fs::create_directories(base / "bare");
  fs::create_directories(base / "mine");
  std::ofstream(base / "mine" / "index.html") << "x";
  std::ofstream(base / "file.html") << "x";
  EXPECT_EQ(live::builtInThemes(),
            (std::vector<std::string>{"card", "history", "lower-third", "ticker"}));
  // (value, the built-in name or the folder found, or the error's words)
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"card", "card", ""},
      {"ticker", "ticker", ""},
      {(base / "mine").string(), fs::canonical(base / "mine").string(), ""},
      {(base / "mine" / ".." / "mine").string(), fs::canonical(base / "mine").string(), ""},
      {(base / "bare").string(), "", "has no index.html"},
      {(base / "file.html").string(), "", "neither a built-in theme (card, history"},
      {"Card", "", "neither a built-in theme"},
      {(base / "missing").string(), "", "nor a folder"},
  };
  for (const auto& [value, found, error] : cases) {
    SCOPED_TRACE(value);
    const platform::Expected<live::Theme> theme = live::findTheme(value);
    ASSERT_EQ(theme.ok(), error.empty());
    if (theme) {
      EXPECT_EQ(theme->name.empty() ? theme->folder : theme->name, found);
    } else {
      EXPECT_EQ(theme.error().subject, value);
      EXPECT_NE(theme.error().text.find(error), std::string::npos) << theme.error().text;
    }
  }
  fs::remove_all(base);
}

TEST(Themes, ExportsABuiltInThemeToANewFolderOnly) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path base = fs::temp_directory_path() / ("zv-export-" + std::to_string(stamp));
  const fs::path folder = base / "deep" / "ticker";
  ASSERT_TRUE(live::exportTheme("ticker", folder.string()).ok());
  std::size_t files = 0;
  for (const live::EmbeddedFile& file : live::embeddedFiles()) {
    if (!file.path.starts_with("ticker/")) continue;
    ++files;
    EXPECT_EQ(contentsOf(folder / file.path.substr(7)), file.contents()) << file.path;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), files);
  EXPECT_GE(files, 2u);
  // A folder that is there, even an empty one, or a file of that name, is left alone.
  fs::create_directories(base / "empty");
  std::ofstream(base / "file") << "kept";
  for (const fs::path& taken : {folder, base / "empty", base / "file"}) {
    const platform::Status status = live::exportTheme("card", taken.string());
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().subject, taken.string());
    EXPECT_FALSE(fs::exists(taken / "card.css"));
  }
  EXPECT_EQ(contentsOf(base / "file"), "kept");
  for (const live::EmbeddedFile& file : live::embeddedFiles()) {
    if (file.path == "ticker/index.html") {
      EXPECT_EQ(contentsOf(folder / "index.html"), file.contents());
    }
  }
  fs::remove_all(base);
}

}  // namespace
