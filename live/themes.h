// The looks of the served overlay: the built-in themes compiled into the program (from
// live/themes/), a user's own folder, and the overlay script every theme may load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace live {

// A file of live/themes/ as the build embedded it: "card/index.html", "overlay.js".
struct EmbeddedFile {
  std::string_view path;
  const unsigned char* data;
  std::size_t size;
  std::string_view contents() const { return {reinterpret_cast<const char*>(data), size}; }
};
std::span<const EmbeddedFile> embeddedFiles();  // in the source the build writes

// Files larger than this are not served from a user's folder, so that reading one cannot
// hold up the server's other clients for long.
constexpr std::uint64_t kMaxThemeFile = 4 * 1024 * 1024;

// The theme a server shows: a built-in one by name, or a user's folder.
struct Theme {
  std::string name;    // a built-in theme's name; empty for a folder
  std::string folder;  // the folder's canonical path (UTF-8); empty for a built-in theme
};

// The built-in themes' names, in order: "card", "history", "lower-third", "ticker".
std::vector<std::string> builtInThemes();

// The theme that --theme's value names: a built-in theme's name, else a folder that holds
// an index.html.
platform::Expected<Theme> findTheme(std::string_view value);

// The overlay script served at /overlay.js.
std::string_view overlayScript();

// The type a file is served with, by its extension; empty for a type not served.
std::string_view contentType(std::string_view path);

// A theme file's answer: found, refused as too large, or not found (which covers every
// path that leaves the folder or names a hidden file).
struct ThemeFile {
  enum class Result { kFound, kTooLarge, kNotFound } result = Result::kNotFound;
  std::string type;
  std::string body;
};

// The file that a request's path (as sent, percent-encoded, "/" for index.html) names in
// the theme.
ThemeFile themeFile(const Theme& theme, std::string_view target);

// Copies the built-in theme `name` into the new folder `folder`, which must not exist.
platform::Status exportTheme(std::string_view name, const std::string& folder);

}  // namespace live
