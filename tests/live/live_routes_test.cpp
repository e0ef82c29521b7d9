// The live server's answers, read from raw request bytes as the server reads them.
#include "live/live_routes.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/host_name.hpp>
#include <cctype>

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
  const live::Site site{page, documents, names};
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

}  // namespace
