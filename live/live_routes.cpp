// The live server's answers: statuses for requests it cannot or will not serve, the Host
// check, and its pages.
#include "live/live_routes.h"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <cctype>
#include <optional>
#include <variant>

#include "platform/ascii.h"

namespace live {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;

Reply failure(http::status status, std::string body) {
  return {status, "text/plain", std::move(body), false, true};
}

Reply document(std::string_view type, std::string_view body) {
  return {http::status::ok, std::string(type), std::string(body)};
}

// The value of `name` in a query ("n=5&t=1"), or nothing when it is not there.
std::optional<std::string_view> queryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    if (pair.substr(0, name.size() + 1) == std::string(name) + "=") {
      return pair.substr(name.size() + 1);
    }
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
  }
  return std::nullopt;
}

// The last N tracks, newest first, N from the query's n (at most kHistoryKept).
Reply history(std::string_view query, const LiveDocuments& documents) {
  std::size_t count = kHistoryDefault;
  if (const std::optional<std::string_view> n = queryValue(query, "n")) {
    if (n->empty() || n->size() > 6 || n->find_first_not_of("0123456789") != n->npos) {
      return failure(http::status::bad_request, "n is a number of tracks, at most 50.\n");
    }
    count = std::min<std::size_t>(std::stoul(std::string(*n)), kHistoryKept);
  }
  std::string json = "[";
  for (std::size_t i = 0; i < std::min(count, documents.history.size()); ++i) {
    json += (i == 0 ? "\n  " : ",\n  ") + documents.history[i];
  }
  json += json.size() == 1 ? "]\n" : "\n]\n";
  return document("application/json", json);
}

// A cover art image the documents name.
Reply artReply(std::string_view path, const LiveDocuments& documents) {
  for (const std::shared_ptr<const ServedArt>& art : documents.art) {
    if (art->path == path) return {http::status::ok, art->type, art->bytes};
  }
  return {http::status::not_found, "text/plain", "No such cover art.\n"};
}

// A file of the theme.
Reply themeReply(const Theme& theme, std::string_view path) {
  ThemeFile file = themeFile(theme, path);
  if (file.result == ThemeFile::Result::kTooLarge) {
    return failure(http::status::forbidden, "Theme files larger than 4 MB are not served.\n");
  }
  if (file.result == ThemeFile::Result::kNotFound) {
    return {http::status::not_found, "text/plain", "Not found.\n"};
  }
  return {http::status::ok, std::move(file.type), std::move(file.body)};
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

namespace {

// What the request names in its Host header and, in the absolute form
// ("GET http://host:port/path"), in its target: a refusal when either is not this
// server's, else the path the target names.
std::variant<Reply, std::string_view> checkHosts(const http::request_header<>& request,
                                                 const Site& site) {
  std::string_view target(request.target().data(), request.target().size());
  if (request.count(http::field::host) > 1) {
    return failure(http::status::bad_request, "More than one Host.\n");
  }
  const auto host = request.find(http::field::host);
  if (host == request.end() && request.version() == 11) {
    return failure(http::status::bad_request, "No Host.\n");
  }
  std::vector<std::string_view> names;
  if (host != request.end()) names.emplace_back(host->value().data(), host->value().size());
  constexpr std::string_view kScheme = "http://";
  if (platform::equalsIgnoringCase(target.substr(0, kScheme.size()), kScheme)) {
    const std::size_t path = target.find_first_of("/?", kScheme.size());
    names.push_back(target.substr(kScheme.size(), path - kScheme.size()));
    target = path == std::string_view::npos ? "/" : target.substr(path);
  }
  for (const std::string_view name : names) {
    if (!hostAllowed(name, site.hostNames)) {
      return failure(http::status::misdirected_request,
                     "This server answers only to its own names; see --allow-host.\n");
    }
  }
  return target;
}

}  // namespace

Reply route(const RequestParser& parser, const Site& site) {
  const http::request_header<>& request = parser.get();
  std::variant<Reply, std::string_view> checked = checkHosts(request, site);
  if (Reply* refusal = std::get_if<Reply>(&checked)) return std::move(*refusal);
  const bool head = request.method() == http::verb::head;
  if (request.method() != http::verb::get && !head) {
    return failure(http::status::method_not_allowed, "Only GET and HEAD.\n");
  }
  if (parser.chunked() || parser.content_length().value_or(0) > 0) {
    return failure(http::status::payload_too_large, "A request here has no body.\n");
  }
  std::string_view target = std::get<std::string_view>(checked);
  const std::size_t mark = target.find('?');
  // Queries mean something to /history.json and the pages' scripts alone.
  const std::string_view query = mark == target.npos ? "" : target.substr(mark + 1);
  target = target.substr(0, mark);
  if (target.empty()) target = "/";  // "http://host?query"
  if (target == "/events") {
    Reply reply = document("text/event-stream", "");
    reply.stream = !head;
    return reply;
  }
  if (target == "/now-playing.json")
    return document("application/json", site.documents.nowPlayingJson);
  if (target == "/now-playing.txt") return document("text/plain", site.documents.nowPlayingText);
  if (target == "/set.json") return document("application/json", site.documents.setJson);
  if (target == "/history.json") return history(query, site.documents);
  if (target == "/overlay.js") return document("text/javascript", overlayScript());
  if (target.starts_with("/art/")) return artReply(target, site.documents);
  if (site.theme.name.empty() && site.theme.folder.empty()) {
    if (target == "/") return document("text/html", site.page);
    return {http::status::not_found, "text/plain", "Not found.\n"};
  }
  return themeReply(site.theme, target);
}

Reply refuse(beast::error_code error, const RequestParser& parser, std::string_view received) {
  // Nothing sent, gone, or out of time (which has closed the connection already): there
  // is no one to answer.
  if (received.empty() || error == http::error::end_of_stream ||
      error == http::error::partial_message || error == net::error::eof ||
      error == net::error::connection_reset || error == net::error::operation_aborted ||
      error == beast::error::timeout) {
    return {};
  }
  if (error == http::error::bad_version) {
    // The parser reads HTTP/1.0 and 1.1 alone; another well-formed version, on a line that
    // ends in CR LF, is not taken. A line that ends in LF alone is not HTTP.
    std::string_view line = received.substr(0, received.find("\r\n"));
    line = line.substr(line.rfind(' ') + 1);
    if (line.size() > 5 && line.substr(0, 5) == "HTTP/" &&
        line.find_first_of("\r\n") == std::string_view::npos &&
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
