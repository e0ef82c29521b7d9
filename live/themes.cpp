// The built-in themes as the build embedded them, a user's theme folder read with care,
// and the export of a built-in theme to start one's own from.
#include "live/themes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/output_file.h"

namespace live {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kOverlayScript = "overlay.js";

fs::path pathOf(std::string_view utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One segment of a path, percent-decoded; nothing when an escape is broken.
std::optional<std::string> decoded(std::string_view segment) {
  std::string text;
  for (std::size_t i = 0; i < segment.size(); ++i) {
    if (segment[i] != '%') {
      text.push_back(segment[i]);
      continue;
    }
    const int high = i + 2 < segment.size() ? hexDigit(segment[i + 1]) : -1;
    const int low = high < 0 ? -1 : hexDigit(segment[i + 2]);
    if (low < 0) return std::nullopt;
    text.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return text;
}

// The names a request's path gives, decoded ("/" is index.html); nothing when one of them
// may not be served: an empty one, ".", "..", a hidden one (a leading dot), or one holding
// a separator, a drive or stream colon or a NUL once decoded.
std::optional<std::vector<std::string>> segmentsOf(std::string_view target) {
  if (target.substr(0, 1) != "/") return std::nullopt;
  target.remove_prefix(1);
  if (target.empty()) return std::vector<std::string>{"index.html"};
  std::vector<std::string> segments;
  while (true) {
    const std::size_t slash = target.find('/');
    std::optional<std::string> segment = decoded(target.substr(0, slash));
    if (!segment || segment->empty() || segment->front() == '.' ||
        segment->find_first_of(std::string_view("/\\:\0", 4)) != std::string::npos) {
      return std::nullopt;
    }
    segments.push_back(std::move(*segment));
    if (slash == std::string_view::npos) return segments;
    target.remove_prefix(slash + 1);
  }
}

const EmbeddedFile* embedded(std::string_view path) {
  for (const EmbeddedFile& file : embeddedFiles()) {
    if (file.path == path) return &file;
  }
  return nullptr;
}

// A file of the user's folder, when its real path (links followed) stays inside the folder
// and names nothing hidden on the way.
ThemeFile folderFile(const fs::path& root, const std::vector<std::string>& segments) {
  fs::path path = root;
  for (const std::string& segment : segments) path /= pathOf(segment);
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec) return {};
  auto [inRoot, below] = std::mismatch(root.begin(), root.end(), real.begin(), real.end());
  if (inRoot != root.end() || below == real.end()) return {};
  for (; below != real.end(); ++below) {
    if (utf8Of(*below).starts_with('.')) return {};
  }
  const std::uintmax_t size = fs::file_size(real, ec);  // a regular file's alone
  if (ec || !fs::is_regular_file(real, ec)) return {};
  if (size > kMaxThemeFile) return {ThemeFile::Result::kTooLarge, {}, {}};
  std::ifstream in(real, std::ios::binary);
  std::string body(static_cast<std::size_t>(size), '\0');
  in.read(body.data(), static_cast<std::streamsize>(body.size()));
  if (in.bad()) return {};
  body.resize(static_cast<std::size_t>(in.gcount()));
  return {ThemeFile::Result::kFound, std::string(contentType(segments.back())), std::move(body)};
}

}  // namespace

std::vector<std::string> builtInThemes() {
  std::vector<std::string> names;
  for (const EmbeddedFile& file : embeddedFiles()) {
    const std::size_t slash = file.path.find('/');
    if (slash == std::string_view::npos) continue;
    std::string name(file.path.substr(0, slash));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

platform::Expected<Theme> findTheme(std::string_view value) {
  std::string names;
  for (const std::string& name : builtInThemes()) {
    if (name == value) return Theme{name, {}};
    names += (names.empty() ? "" : ", ") + name;
  }
  std::error_code ec;
  const fs::path folder = fs::canonical(pathOf(value), ec);
  if (ec || !fs::is_directory(folder, ec)) {
    return platform::makeError(std::string(value),
                               "neither a built-in theme (" + names + ") nor a folder");
  }
  if (!fs::is_regular_file(folder / "index.html", ec)) {
    return platform::makeError(std::string(value), "this theme folder has no index.html");
  }
  return Theme{{}, utf8Of(folder)};
}

std::string_view overlayScript() { return embedded(kOverlayScript)->contents(); }

std::string_view contentType(std::string_view path) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".html", "text/html"},     {".htm", "text/html"},         {".css", "text/css"},
      {".js", "text/javascript"}, {".json", "application/json"}, {".png", "image/png"},
      {".jpg", "image/jpeg"},     {".jpeg", "image/jpeg"},       {".webp", "image/webp"},
      {".svg", "image/svg+xml"},  {".woff2", "font/woff2"}};
  std::string lower(path.substr(std::min(path.size(), path.rfind('.'))));
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const auto& [extension, type] : kTypes) {
    if (lower == extension) return type;
  }
  return {};
}

ThemeFile themeFile(const Theme& theme, std::string_view target) {
  const std::optional<std::vector<std::string>> segments = segmentsOf(target);
  if (!segments || contentType(segments->back()).empty()) return {};
  if (!theme.folder.empty()) return folderFile(pathOf(theme.folder), *segments);
  std::string path = theme.name;
  for (const std::string& segment : *segments) path += "/" + segment;
  const EmbeddedFile* file = embedded(path);
  if (file == nullptr) return {};
  return {ThemeFile::Result::kFound, std::string(contentType(path)), std::string(file->contents())};
}

platform::Status exportTheme(std::string_view name, const std::string& folder) {
  const fs::path root = pathOf(folder);
  std::error_code ec;
  // A name that is taken, by a folder, a file or a link, or cannot be looked at.
  if (fs::symlink_status(root, ec).type() != fs::file_type::not_found) {
    return platform::makeError(folder, "already exists; give a new folder's name");
  }
  if (root.has_parent_path()) fs::create_directories(root.parent_path(), ec);
  if (ec || !fs::create_directory(root, ec)) {
    return platform::makeError(folder, ec ? ec.message() : "already exists");
  }
  const std::string prefix = std::string(name) + "/";
  for (const EmbeddedFile& file : embeddedFiles()) {
    if (!file.path.starts_with(prefix)) continue;
    const fs::path path = root / pathOf(file.path.substr(prefix.size()));
    fs::create_directories(path.parent_path(), ec);
    if (platform::Status written = platform::replaceFileContents(utf8Of(path), file.contents());
        !written)
      return written.error();
  }
  return {};
}

}  // namespace live
