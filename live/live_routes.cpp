// The live server's answers: statuses for requests it cannot or will not serve, the Host
// check, and its pages.
#include "live/live_routes.h"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <cctype>

#include "platform/ascii.h"

namespace live {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;

Reply failure(http::status status, std::string body) {
  return {status, "text/plain", std::move(body), false, true};
}

Reply document(std::string_view type, const std::string& body) {
  return {http::status::ok, std::string(type), body};
}

}  // namespace

std::vector<std::string> hostNames(const std::vector<std::string>& allowed) {
  std::vector<std::string> names = {"localhost"};
  beast::error_code ec;
  const std::string own = platform::asciiLower(net::ip::host_name(ec));
  if (!ec && !own.empty()) {
    names.push_back(own);
    names.push_back(own + ".local");
  }
  for (const std::string& name : allowed) names.push_back(platform::asciiLower(name));
  return names;
}

bool hostAllowed(std::string_view host, const std::vector<std::string>& names) {
  std::string_view name = host;
  std::string_view port;
  beast::error_code ec;
  if (host.substr(0, 1) == "[") {
    const std::size_t end = host.find(']');
    if (end == std::string_view::npos) return false;
    net::ip::make_address_v6(std::string(host.substr(1, end - 1)), ec);
    if (ec) return false;
    port = host.substr(end + 1);
    if (!port.empty() && port[0] != ':') return false;
    name = {};
  } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon);
  }
  if (!port.empty() && port.find_first_not_of("0123456789", 1) != std::string_view::npos) {
    return false;
  }
  if (name.empty()) return host.substr(0, 1) == "[";
  if (name.back() == '.') name.remove_suffix(1);  // the root of DNS, as in "localhost."
  net::ip::make_address_v4(std::string(name), ec);
  if (!ec) return true;
  return std::find(names.begin(), names.end(), platform::asciiLower(name)) != names.end();
}

Reply route(const RequestParser& parser, const Site& site) {
  const http::request_header<>& request = parser.get();
  const auto host = request.find(http::field::host);
  if (host == request.end()) {
    if (request.version() == 11) return failure(http::status::bad_request, "No Host.\n");
  } else if (request.count(http::field::host) > 1 ||
             !hostAllowed({host->value().data(), host->value().size()}, site.hostNames)) {
    return failure(http::status::misdirected_request,
                   "This server answers only to its own names; see --allow-host.\n");
  }
  const bool head = request.method() == http::verb::head;
  if (request.method() != http::verb::get && !head) {
    return failure(http::status::method_not_allowed, "Only GET and HEAD.\n");
  }
  if (parser.chunked() || parser.content_length().value_or(0) > 0) {
    return failure(http::status::payload_too_large, "A request here has no body.\n");
  }
  std::string_view target(request.target().data(), request.target().size());
  target = target.substr(0, target.find('?'));  // cache-defeating queries mean nothing here
  if (target == "/events") {
    Reply reply = document("text/event-stream", "");
    reply.stream = !head;
    return reply;
  }
  if (target == "/") return document("text/html", site.page);
  if (target == "/now-playing.json")
    return document("application/json", site.documents.nowPlayingJson);
  if (target == "/now-playing.txt") return document("text/plain", site.documents.nowPlayingText);
  if (target == "/set.json") return document("application/json", site.documents.setJson);
  return {http::status::not_found, "text/plain", "Not found.\n"};
}

Reply refuse(beast::error_code error, const RequestParser& parser, std::string_view received) {
  // Nothing sent, or gone: there is no one to answer.
  // Nothing sent, gone, or out of time (which has closed the connection already): there
  // is no one to answer.
  if (received.empty() || error == http::error::end_of_stream ||
      error == http::error::partial_message || error == net::error::eof ||
      error == net::error::connection_reset || error == net::error::operation_aborted ||
      error == beast::error::timeout) {
    return {};
  }
  if (error == http::error::bad_version) {
    // The parser reads HTTP/1.0 and 1.1 alone; another well-formed version is not taken.
    std::string_view line = received.substr(0, received.find('\n'));
    line = line.substr(line.rfind(' ') + 1);
    if (line.size() > 5 && line.substr(0, 5) == "HTTP/" &&
        std::isdigit(static_cast<unsigned char>(line[5]))) {
      return failure(http::status::http_version_not_supported, "Only HTTP/1.0 and 1.1.\n");
    }
  }
  if (error == http::error::header_limit) {
    // The request line alone is too long when the parser did not get past it.
    if (parser.get().target().empty()) {
      return failure(http::status::uri_too_long, "The address is too long.\n");
    }
    return failure(http::status::request_header_fields_too_large, "The headers are too long.\n");
  }
  return failure(http::status::bad_request, "Not an HTTP request.\n");
}

Reply answer(std::string_view bytes, const Site& site) {
  RequestParser parser;
  parser.header_limit(kHeaderLimit);
  parser.eager(false);
  beast::error_code ec;
  std::size_t used = 0;
  while (!parser.is_header_done() && used < bytes.size()) {
    const std::size_t n = parser.put(net::buffer(bytes.data() + used, bytes.size() - used), ec);
    used += n;
    if (ec == http::error::need_more && n == 0) break;
    if (ec && ec != http::error::need_more) return refuse(ec, parser, bytes.substr(used));
  }
  if (!parser.is_header_done()) return refuse(beast::error::timeout, parser, bytes.substr(used));
  return route(parser, site);
}

}  // namespace live
