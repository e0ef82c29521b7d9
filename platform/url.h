// URLs taken apart and named, and text percent-encoded for them: what the web clients
// and the options that name a server share, without the clients themselves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

// The parts of an http, https, ws or wss URL.
struct Url {
  bool secure = false;     // https or wss
  bool webSocket = false;  // ws or wss
  std::string host;        // a name or an address; an IPv6 address without its brackets
  std::uint16_t port = 0;  // the URL's port, else 80 or 443
  std::string target;      // the path and query, "/" at least; no fragment
};

// Splits a URL; an error (its subject the URL) for another scheme, a missing host, a bad
// port, user information, or a space or control character in the URL.
Expected<Url> parseUrl(std::string_view url);

// The URL without its user information, query and fragment, to name it in a message
// without the secrets they may carry.
std::string urlSubject(std::string_view url);

// Percent-encodes text for a URL's query or a form (RFC 3986 unreserved characters kept).
std::string urlEncode(std::string_view text);
}  // namespace platform
