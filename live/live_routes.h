// What the live server answers, as plain functions of a request and the documents of the
// moment: the server's connections only read requests and write these answers.
#pragma once

// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <boost/beast/core/error.hpp>
#include <boost/beast/http.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "live/live_server.h"

namespace live {

namespace http = boost::beast::http;

// Every request is read with this parser: a head only, and no body is ever taken.
using RequestParser = http::request_parser<http::empty_body>;

// The request line and headers together; a longer request is answered 414 or 431.
constexpr std::uint32_t kHeaderLimit = 8 * 1024;

// What the server has to serve, and the names a request's Host may give.
struct Site {
  const std::string& page;
  const LiveDocuments& documents;
  const std::vector<std::string>& hostNames;  // lower case; IP addresses are always taken
  const Theme& theme;                         // none (both names empty): `page` at /
};

// Tracks /history.json gives when its request asks for no number.
constexpr std::size_t kHistoryDefault = 10;

// One answer. Status 0 means no answer at all: the client went away or sent nothing.
struct Reply {
  http::status status = http::status::unknown;
  std::string type = "text/plain";
  std::string body;
  bool stream = false;  // the head of the event stream; events follow until the end
  bool close = false;   // the connection ends after this answer, whatever the client asked
};

// "localhost", this computer's own name and that name with ".local", in lower case, and
// the names given to --allow-host.
std::vector<std::string> hostNames(const std::vector<std::string>& allowed);

// Whether a Host header names this server: an IP address (IPv6 in brackets) or one of
// `names`, with or without a port. Anything else may be a page of another site that had
// its own name point here (DNS rebinding).
bool hostAllowed(std::string_view host, const std::vector<std::string>& names);

// The answer to a request whose head the parser read whole.
Reply route(const RequestParser& parser, const Site& site);

// The answer to a request whose head could not be read: `error` from the read, the parser
// that read it and the bytes it has not taken.
Reply refuse(boost::beast::error_code error, const RequestParser& parser,
             std::string_view received);

// Reads `bytes` as the server reads a request and answers it as the server does: route
// for a whole head, refuse for one that cannot be read, or a timeout for one that stays
// incomplete.
Reply answer(std::string_view bytes, const Site& site);

}  // namespace live
