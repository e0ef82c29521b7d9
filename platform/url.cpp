// URLs taken apart and named, and percent-encoding.
#include "platform/url.h"

#include <algorithm>
#include <charconv>

#include "platform/ascii.h"

namespace platform {

namespace {

// Sets the scheme's fields; false for a scheme this client does not speak.
bool readScheme(std::string_view scheme, Url* url) {
  url->secure = equalsIgnoringCase(scheme, "https") || equalsIgnoringCase(scheme, "wss");
  url->webSocket = equalsIgnoringCase(scheme, "ws") || equalsIgnoringCase(scheme, "wss");
  url->port = url->secure ? 443 : 80;
  return url->secure || url->webSocket || equalsIgnoringCase(scheme, "http");
}

// Reads "host", "host:port", "[v6]" or "[v6]:port"; the reason when it is not one.
std::string readAuthority(std::string_view authority, Url* url) {
  if (authority.find('@') != std::string_view::npos) return "user information in a URL";
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return "no closing ']' after an IPv6 address";
    url->host = authority.substr(1, close - 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return "text after an IPv6 address";
    if (!rest.empty()) port = rest.substr(1);
  } else {
    const std::size_t colon = authority.rfind(':');
    url->host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (url->host.empty()) return "no host";
  if (port.empty()) return "";
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
    return "a bad port";
  url->port = static_cast<std::uint16_t>(value);
  return "";
}

}  // namespace

Expected<Url> parseUrl(std::string_view text) {
  Url url;
  const std::size_t colon = text.find("://");
  if (colon == std::string_view::npos || !readScheme(text.substr(0, colon), &url))
    return makeError(urlSubject(text), "not an http, https, ws or wss URL");
  std::string_view rest = text.substr(colon + 3);
  rest = rest.substr(0, rest.find('#'));
  for (const char c : rest) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
      return makeError(urlSubject(text), "a space or control character in a URL");
  }
  const std::size_t pathStart = std::min(rest.find_first_of("/?"), rest.size());
  const std::string why = readAuthority(rest.substr(0, pathStart), &url);
  if (!why.empty()) return makeError(urlSubject(text), why);
  const std::string_view target = rest.substr(pathStart);
  if (target.empty() || target.front() == '?') url.target.push_back('/');
  url.target.append(target);
  return url;
}

std::string urlSubject(std::string_view url) {
  std::string subject(url.substr(0, url.find_first_of("?#")));
  // user:password@ before the host stays out too.
  const std::size_t authority = subject.find("://");
  if (authority == std::string::npos) return subject;
  const std::size_t hostEnd = std::min(subject.find('/', authority + 3), subject.size());
  const std::size_t at = subject.rfind('@', hostEnd);
  if (at != std::string::npos && at > authority)
    subject.erase(authority + 3, at + 1 - authority - 3);
  return subject;
}

std::string urlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (letter || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

}  // namespace platform
