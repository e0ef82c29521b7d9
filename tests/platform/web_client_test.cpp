// The web client's shared logic: URLs taken apart, percent-encoding, and MD5 from the
// system (the test vectors of RFC 1321).
#include "platform/web_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

TEST(WebClient, TakesUrlsApart) {
  struct Case {
    std::string url;
    std::string parts;  // "secure webSocket host port target", or the error's reason
  };
  const Case cases[] = {
      {"https://api.listenbrainz.org", "1 0 api.listenbrainz.org 443 /"},
      {"HTTP://127.0.0.1:42010/apis/listenbrainz/1/x?a=b#frag",
       "0 0 127.0.0.1 42010 /apis/listenbrainz/1/x?a=b"},
      {"wss://irc-ws.chat.twitch.tv:443", "1 1 irc-ws.chat.twitch.tv 443 /"},
      {"ws://[::1]:8080?x", "0 1 ::1 8080 /?x"},
      {"http://[::1]/", "0 0 ::1 80 /"},
      {"ftp://host/", "not an http, https, ws or wss URL"},
      {"host/path", "not an http, https, ws or wss URL"},
      {"http://user:pw@host/", "user information in a URL"},
      {"http:///path", "no host"},
      {"http://host:0/", "a bad port"},
      {"http://host:65536/", "a bad port"},
      {"http://host:8x/", "a bad port"},
      {"http://[::1/", "no closing ']' after an IPv6 address"},
      {"http://[::1", "no closing ']' after an IPv6 address"},
      {"http://h/l b", "a space or control character in a URL"},
      {"ws://h/\x01", "a space or control character in a URL"},
      {"http://", "no host"},
  };
  for (const Case& c : cases) {
    const auto url = platform::parseUrl(c.url);
    if (!url) {
      EXPECT_EQ(url.error().text, c.parts) << c.url;
      EXPECT_EQ(url.error().subject, platform::urlSubject(c.url));
      continue;
    }
    EXPECT_EQ(std::to_string(url->secure) + " " + std::to_string(url->webSocket) + " " + url->host +
                  " " + std::to_string(url->port) + " " + url->target,
              c.parts)
        << c.url;
  }
  EXPECT_EQ(platform::urlSubject("http://h/p?token=secret#x"), "http://h/p");
  EXPECT_EQ(platform::urlSubject("https://dj:secret@h:1/p@q"), "https://h:1/p@q");
  EXPECT_EQ(platform::urlSubject("http://dj:secret@h?a@b"), "http://h");
}

TEST(WebClient, EncodesAndHashes) {
  EXPECT_EQ(platform::urlEncode("a-Z_0.~ /&=+é"), "a-Z_0.~%20%2F%26%3D%2B%C3%A9");
  EXPECT_EQ(platform::formEncode({{"method", "track.scrobble"}, {"artist[0]", "Björk & co"}}),
            "method=track.scrobble&artist%5B0%5D=Bj%C3%B6rk%20%26%20co");
  EXPECT_EQ(platform::md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(platform::md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(platform::md5Hex(
                "12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
  platform::HttpResponse response;
  response.headers = {{"X-RateLimit-Remaining", "0"}, {"x-ratelimit-remaining", "5"}};
  EXPECT_EQ(response.header("x-RATELIMIT-remaining"), "0");
  EXPECT_EQ(response.header("missing"), "");
}

#ifndef _WIN32
// A server that accepts (the kernel's backlog does) and never answers: the attempt waits
// for the WebSocket upgrade (ws) or the TLS handshake (wss) until the caller gives up.
TEST(WebClient, AConnectionAttemptEndsWhenTheCallerGivesUp) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  for (const std::string scheme : {"ws", "wss"}) {
    std::atomic<bool> given{false};
    std::thread giver([&given] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      given = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const auto socket = platform::connectWebSocket(scheme + "://127.0.0.1:" + port, 30,
                                                   [&given] { return given.load(); });
    // A bound far from the attempt's own 30 s, not a timing.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << scheme;
    giver.join();
    ASSERT_FALSE(socket) << scheme;
    EXPECT_EQ(socket.error().text, "stopped") << scheme;
  }
  close(listener);
}
#endif

}  // namespace
