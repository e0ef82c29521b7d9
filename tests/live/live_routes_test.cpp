// The live server's answers, read from raw request bytes as the server reads them.
#include "live/live_routes.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/host_name.hpp>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

using live::http::status;

struct Case {
  std::string request;
  status expected;
  std::string body;  // "" when not checked
  bool stream = false;
};

std::string get(const std::string& path, const std::string& host) {
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
}

TEST(LiveRoutes, AnswersEachRequestWithItsStatus) {
  std::string own = boost::asio::ip::host_name();
  for (char& c : own) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string page = "PAGE";
  const LiveDocuments documents{"JSON", "TEXT", "SET"};
  const std::vector<std::string> names = live::hostNames({"Studio.lan"});
  const live::Theme none;
  const live::Site site{page, documents, names, none};
  const std::string local = "\r\nHost: localhost\r\n";
  const Case cases[] = {
      {get("/", "localhost:8040"), status::ok, "PAGE"},
      {get("/now-playing.txt", "127.0.0.1:8040"), status::ok, "TEXT"},
      {get("/now-playing.json?t=17", "[::1]:8040"), status::ok, "JSON"},
      {get("/set.json", own), status::ok, "SET"},
      {get("/set.json", own + ".local:8040"), status::ok, "SET"},
      {get("/now-playing.txt", "studio.LAN"), status::ok, "TEXT"},
      {get("/now-playing.txt", "192.168.1.20"), status::ok, "TEXT"},
      {get("/now-playing.txt", "localhost."), status::ok, "TEXT"},
      {get("/events", "localhost"), status::ok, "", true},
      {"HEAD /events HTTP/1.1" + local + "\r\n", status::ok, ""},
      {"GET /now-playing.txt HTTP/1.0\r\n\r\n", status::ok, "TEXT"},
      {get("/overlay.html", "localhost"), status::not_found, ""},
      // Names that are not this computer's: pages of other sites
      {get("/now-playing.txt", "evil.example"), status::misdirected_request, ""},
      {get("/now-playing.txt", "evil.example:8040"), status::misdirected_request, ""},
      {get("/", "localhost.evil.example"), status::misdirected_request, ""},
      {get("/", "127.0.0.1.evil.example"), status::misdirected_request, ""},
      {get("/", own + ".evil.example"), status::misdirected_request, ""},
      {get("/", "[::1"), status::misdirected_request, ""},
      {get("/", "localhost:80x"), status::misdirected_request, ""},
      {get("/", ""), status::misdirected_request, ""},
      {"GET / HTTP/1.1\r\n\r\n", status::bad_request, ""},
      {"GET / HTTP/1.1" + local + "Host: evil.example\r\n\r\n", status::bad_request, ""},
      {"GET / HTTP/1.1" + local + "Host: localhost\r\n\r\n", status::bad_request, ""},
      // The absolute form: its host is checked as Host is
      {get("http://127.0.0.1:8040/now-playing.txt?x=/", "127.0.0.1:8040"), status::ok, "TEXT"},
      {get("HTTP://Studio.lan?x", "localhost"), status::ok, "PAGE"},
      {"GET http://[::1]:8040/set.json HTTP/1.0\r\n\r\n", status::ok, "SET"},
      {get("http://evil.example:8040/now-playing.txt", "127.0.0.1:8040"),
       status::misdirected_request, ""},
      {get("http://user@localhost/", "localhost"), status::misdirected_request, ""},
      {get("http:///", "localhost"), status::misdirected_request, ""},
      {get("https://localhost/", "localhost"), status::not_found, ""},
      // Lines that end in LF alone
      {"GET / HTTP/1.1\nHost: localhost\n\n", status::bad_request, ""},
      {"GET / HTTP/2.0\nHost: localhost\r\n\r\n", status::bad_request, ""},
      {"GET / HTTP/1.1\r\nHost: localhost\n\n", status::bad_request, ""},
      // Requests this server does not take
      {"POST /now-playing.json HTTP/1.1" + local + "Content-Length: 5\r\n\r\nhello",
       status::method_not_allowed, ""},
      {"DELETE / HTTP/1.1" + local + "\r\n", status::method_not_allowed, ""},
      {"GET / HTTP/1.1" + local + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       status::payload_too_large, ""},
      {"GET / HTTP/1.1" + local + "Content-Length: 3\r\n\r\nabc", status::payload_too_large, ""},
      {"GET / HTTP/2.0" + local + "\r\n", status::http_version_not_supported, ""},
      {"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", status::http_version_not_supported, ""},
      {"HELLO\r\n\r\n", status::bad_request, ""},
      {"GET / HTTP/1.1\r\nHost localhost\r\n\r\n", status::bad_request, ""},
      {"GET / HTTP/1.1" + local + "X: " + std::string(9000, 'x') + "\r\n\r\n",
       status::request_header_fields_too_large, ""},
      {"GET /" + std::string(100000, 'a') + " HTTP/1.1" + local + "\r\n", status::uri_too_long, ""},
      // Nothing whole to answer: the connection is closed when its time is up.
      {"GET / HTTP/1.1\r\nHost: loc", status::unknown, ""},
      {"", status::unknown, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.substr(0, 80));
    const live::Reply reply = live::answer(c.request, site);
    EXPECT_EQ(reply.status, c.expected);
    EXPECT_EQ(reply.stream, c.stream);
    if (!c.body.empty()) {
      EXPECT_EQ(reply.body, c.body);
    }
    // Every failure ends its connection, as its request may not have been read whole.
    EXPECT_EQ(reply.close, reply.status != status::ok && reply.status != status::not_found &&
                               reply.status != status::unknown);
  }
}

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

struct FileCase {
  std::string path;
  status expected;
  std::string type = {};  // "" when not checked
  std::string body = {};  // "" when not checked
};

void expectAnswers(const live::Site& site, std::initializer_list<FileCase> cases) {
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.path);
    const live::Reply reply = live::answer(get(c.path, "localhost"), site);
    EXPECT_EQ(reply.status, c.expected);
    if (!c.type.empty()) {
      EXPECT_EQ(reply.type, c.type);
    }
    if (!c.body.empty()) {
      EXPECT_EQ(reply.body, c.body);
    }
  }
}

// A user's folder: its files with their types, and nothing outside it, hidden or too large.
TEST(LiveRoutes, ServesAThemeFolderAndNothingBeyondIt) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path base = fs::temp_directory_path() / ("zv-theme-" + std::to_string(stamp));
  fs::remove_all(base);
  const fs::path folder = base / "theme";
  const std::pair<std::string, std::string> files[] = {
      {"index.html", "INDEX"}, {"a.css", "CSS"},          {"s.js", "JS"},
      {"p.png", "PNG"},        {"p.JPG", "JPG"},          {"sub/p.webp", "WEBP"},
      {"sub/i.svg", "SVG"},    {"f.woff2", "FONT"},       {"d.json", "{}"},
      {".hidden.css", "H"},    {".git/config.json", "G"}, {"notes.txt", "TXT"}};
  for (const auto& [name, contents] : files) writeFile(folder / name, contents);
  writeFile(base / "secret.css", "SECRET");
  writeFile(folder / "big.png", std::string(live::kMaxThemeFile + 1, 'x'));
  const live::Theme theme = *live::findTheme((base / "theme").string());
  const LiveDocuments documents{"JSON", "TEXT", "SET", {}};
  const std::vector<std::string> names = live::hostNames({});
  const live::Site site{"PAGE", documents, names, theme};
  expectAnswers(
      site, {{"/", status::ok, "text/html", "INDEX"},
             {"/index.html?x=1", status::ok, "text/html", "INDEX"},
             {"/a.css", status::ok, "text/css", "CSS"},
             {"/s.js", status::ok, "text/javascript", "JS"},
             {"/p.png", status::ok, "image/png", "PNG"},
             {"/p.JPG", status::ok, "image/jpeg", "JPG"},
             {"/sub/p.webp", status::ok, "image/webp", "WEBP"},
             {"/sub/i.svg", status::ok, "image/svg+xml", "SVG"},
             {"/f.woff2", status::ok, "font/woff2", "FONT"},
             {"/d.json", status::ok, "application/json", "{}"},
             {"/%61.css", status::ok, "text/css", "CSS"},
             {"/now-playing.txt", status::ok, "text/plain", "TEXT"},  // the program's paths first
             {"/overlay.js", status::ok, "text/javascript", std::string(live::overlayScript())},
             {"/notes.txt", status::not_found},
             {"/missing.css", status::not_found},
             {"/sub", status::not_found},
             {"/sub/", status::not_found},
             {"//a.css", status::not_found},
             {"/.hidden.css", status::not_found},
             {"/%2ehidden.css", status::not_found},
             {"/.git/config.json", status::not_found},
             {"/../secret.css", status::not_found},
             {"/sub/../a.css", status::not_found},
             {"/%2e%2e/secret.css", status::not_found},
             {"/%2E%2E%2Fsecret.css", status::not_found},
             {"/..%5csecret.css", status::not_found},
             {"/a.css%00.png", status::not_found},
             {"/%zz.css", status::not_found},
             {"/big.png", status::forbidden}});
#ifndef _WIN32  // links that lead out of the folder, or to a hidden name, and one that stays
  fs::create_symlink(base / "secret.css", folder / "out.css");
  fs::create_symlink(folder / "a.css", folder / "in.css");
  fs::create_symlink(base, folder / "up");
  fs::create_symlink(folder / ".git", folder / "git");
  expectAnswers(site, {{"/in.css", status::ok, "text/css", "CSS"},
                       {"/out.css", status::not_found},
                       {"/up/secret.css", status::not_found},
                       {"/up/theme/a.css", status::ok, "text/css", "CSS"},
                       {"/git/config.json", status::not_found}});
#endif
  fs::remove_all(base);
}

// A built-in theme, the page of before without one, and the last tracks.
TEST(LiveRoutes, ServesBuiltInThemesAndTheHistory) {
  const LiveDocuments documents{"JSON", "TEXT", "SET", {"{\"n\":3}", "{\"n\":2}", "{\"n\":1}"}};
  const std::vector<std::string> names = live::hostNames({});
  const live::Theme card = *live::findTheme("card");
  const live::Theme none;
  const std::string three = "[\n  {\"n\":3},\n  {\"n\":2},\n  {\"n\":1}\n]\n";
  expectAnswers({"PAGE", documents, names, card},
                {{"/", status::ok, "text/html"},
                 {"/style.css", status::ok, "text/css"},
                 {"/index.html", status::ok, "text/html"},
                 {"/card/style.css", status::not_found},
                 {"/../card/style.css", status::not_found},
                 {"/history.json", status::ok, "application/json", three},
                 {"/history.json?n=2", status::ok, "", "[\n  {\"n\":3},\n  {\"n\":2}\n]\n"},
                 {"/history.json?t=5&n=1", status::ok, "", "[\n  {\"n\":3}\n]\n"},
                 {"/history.json?n=0", status::ok, "", "[]\n"},
                 {"/history.json?n=999999", status::ok, "", three},
                 {"/history.json?n=-1", status::bad_request},
                 {"/history.json?n=", status::bad_request},
                 {"/history.json?n=1x", status::bad_request}});
  expectAnswers({"PAGE", documents, names, none}, {{"/", status::ok, "text/html", "PAGE"},
                                                   {"/style.css", status::not_found},
                                                   {"/overlay.js", status::ok, "text/javascript"}});
  // The built-in files whole, as the build embedded them.
  for (const live::EmbeddedFile& file : live::embeddedFiles()) {
    const std::size_t slash = file.path.find('/');
    if (slash == std::string_view::npos) continue;
    const live::Theme theme = *live::findTheme(file.path.substr(0, slash));
    EXPECT_EQ(live::answer(get(std::string(file.path.substr(slash)), "localhost"),
                           {"PAGE", documents, names, theme})
                  .body,
              file.contents());
  }
}

}  // namespace
