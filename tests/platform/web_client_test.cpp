// The web client's shared logic: URLs taken apart, percent-encoding, and MD5 from the
// system (the test vectors of RFC 1321).
#include "platform/web_client.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
