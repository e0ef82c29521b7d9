// The HTTP/1.1 server of setlist live, on Boost.Beast: one thread runs every connection
// asynchronously, so no client can hold up another or the polls.
#include "setlist/live_server.h"

// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <deque>
#include <thread>
#include <unordered_set>

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// Connections served at once; one more is answered 503 and closed.
constexpr std::size_t kMaxConnections = 128;
// The request line and headers together; a longer request closes its connection.
constexpr std::uint32_t kHeaderLimit = 8 * 1024;
// A connection that sends no complete request for this long is closed.
constexpr auto kIdleTimeout = std::chrono::seconds(30);
// The same for a connection beyond the limit, which only waits for its 503.
constexpr auto kRefusedTimeout = std::chrono::seconds(5);
// An event that a client does not take within this long closes its connection.
constexpr auto kWriteTimeout = std::chrono::seconds(30);
// A comment line on every event stream, so that dead clients are found.
constexpr auto kHeartbeat = std::chrono::seconds(15);
// Events waiting for a client that does not read; one more closes its connection.
constexpr std::size_t kMaxQueuedEvents = 64;

using Text = std::shared_ptr<const std::string>;

class Server;

// One client connection: requests answered one after the other, or, after a request for
// /events, a stream of events until the client goes away.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, Server& server, bool refused);
  ~Connection();
  void start() { readRequest(); }
  // Queues an event (or a comment line) for a streaming client.
  void send(Text text);
  void close();

 private:
  void readRequest();
  void answer();
  void respond(http::status status, std::string_view type, std::string body);
  void startStream();
  void watch();
  void writeNext();

  beast::tcp_stream stream_;
  Server& server_;
  bool refused_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  http::response<http::string_body> response_;
  std::deque<Text> queue_;
  bool writing_ = false;
  bool closed_ = false;
  char ignored_[256];
};

class Server : public LiveServer {
 public:
  Server(std::string page, LiveDocuments documents)
      : page_(std::move(page)),
        documents_(std::make_shared<const LiveDocuments>(std::move(documents))) {}
  ~Server() override;

  bool listen(const tcp::endpoint& endpoint, std::string* error);
  void run() {
    accept();
    beat();
    thread_ = std::thread([this] { context_->run(); });
  }
  void publish(LiveDocuments documents) override;
  std::string origin() const override { return origin_; }

  const std::string& page() const { return page_; }
  const LiveDocuments& documents() const { return *documents_; }
  void addStream(const std::shared_ptr<Connection>& connection) { streams_.insert(connection); }
  void removeStream(const std::shared_ptr<Connection>& connection) { streams_.erase(connection); }
  std::size_t connections = 0;  // counted by the connections themselves, refused ones aside

 private:
  void accept();
  void beat();

  std::unique_ptr<net::io_context> context_ = std::make_unique<net::io_context>(1);
  std::optional<tcp::acceptor> acceptor_;
  std::optional<net::steady_timer> timer_;
  std::optional<net::steady_timer> pause_;
  std::thread thread_;
  std::string origin_;
  std::string page_;
  std::shared_ptr<const LiveDocuments> documents_;
  std::unordered_set<std::shared_ptr<Connection>> streams_;
};

Text eventOf(const std::string& json) {
  return std::make_shared<const std::string>("data: " + json + "\n\n");
}

Connection::Connection(tcp::socket socket, Server& server, bool refused)
    : stream_(std::move(socket)), server_(server), refused_(refused) {
  if (!refused_) ++server_.connections;
}

Connection::~Connection() {
  if (!refused_) --server_.connections;
}

void Connection::close() {
  if (closed_) return;
  closed_ = true;
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.close();
  server_.removeStream(shared_from_this());
}

void Connection::readRequest() {
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  stream_.expires_after(refused_ ? kRefusedTimeout : kIdleTimeout);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code ec, std::size_t) {
                     // A malformed or oversized request, a timeout or a client that went
                     // away: only this connection ends.
                     if (ec) return self->close();
                     self->answer();
                   });
}

void Connection::answer() {
  const http::request<http::empty_body>& request = parser_->get();
  if (refused_) {
    return respond(http::status::service_unavailable, "text/plain",
                   "Too many connections; try again shortly.\n");
  }
  const bool head = request.method() == http::verb::head;
  if (request.method() != http::verb::get && !head) {
    return respond(http::status::method_not_allowed, "text/plain", "Only GET and HEAD.\n");
  }
  std::string_view target(request.target().data(), request.target().size());
  target = target.substr(0, target.find('?'));  // cache-defeating queries mean nothing here
  if (target == "/events" && !head) return startStream();
  const LiveDocuments& documents = server_.documents();
  if (target == "/") return respond(http::status::ok, "text/html", server_.page());
  if (target == "/events") return respond(http::status::ok, "text/event-stream", "");
  if (target == "/now-playing.json") {
    return respond(http::status::ok, "application/json", documents.nowPlayingJson);
  }
  if (target == "/now-playing.txt") {
    return respond(http::status::ok, "text/plain", documents.nowPlayingText);
  }
  if (target == "/set.json")
    return respond(http::status::ok, "application/json", documents.setJson);
  respond(http::status::not_found, "text/plain", "Not found.\n");
}

void Connection::respond(http::status status, std::string_view type, std::string body) {
  const http::request<http::empty_body>& request = parser_->get();
  const bool keepAlive = request.keep_alive() && !refused_;
  response_ = {};
  response_.result(status);
  response_.version(request.version());
  response_.set(http::field::server, "setlist live");
  response_.set(http::field::content_type, std::string(type) + "; charset=utf-8");
  response_.set(http::field::cache_control, "no-store");
  if (status == http::status::method_not_allowed) response_.set(http::field::allow, "GET, HEAD");
  if (status == http::status::service_unavailable) response_.set(http::field::retry_after, "5");
  response_.keep_alive(keepAlive);
  const std::size_t length = body.size();
  if (request.method() != http::verb::head) response_.body() = std::move(body);
  response_.content_length(length);
  stream_.expires_after(kWriteTimeout);
  http::async_write(stream_, response_,
                    [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                      if (ec || !keepAlive) return self->close();
                      self->readRequest();
                    });
}

// An event stream has no length: it ends when the connection closes.
void Connection::startStream() {
  stream_.expires_never();
  server_.addStream(shared_from_this());
  watch();  // first, so that the write timeouts set below leave this read without one
  send(
      std::make_shared<const std::string>("HTTP/1.1 200 OK\r\n"
                                          "Server: setlist live\r\n"
                                          "Content-Type: text/event-stream; charset=utf-8\r\n"
                                          "Cache-Control: no-store\r\n"
                                          "Connection: close\r\n"
                                          "\r\n"
                                          "retry: 2000\n\n"));
  send(eventOf(server_.documents().nowPlayingJson));
}

// A streaming client sends nothing more; a read that ends tells that it went away.
void Connection::watch() {
  stream_.async_read_some(net::buffer(ignored_),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                            if (ec) return self->close();
                            self->watch();
                          });
}

void Connection::send(Text text) {
  if (closed_) return;
  if (queue_.size() == kMaxQueuedEvents) return close();
  queue_.push_back(std::move(text));
  if (!writing_) writeNext();
}

void Connection::writeNext() {
  if (closed_ || queue_.empty()) {
    writing_ = false;
    stream_.expires_never();
    return;
  }
  writing_ = true;
  stream_.expires_after(kWriteTimeout);
  net::async_write(stream_, net::buffer(*queue_.front()),
                   [self = shared_from_this()](beast::error_code ec, std::size_t) {
                     if (ec) return self->close();
                     self->queue_.pop_front();
                     self->writeNext();
                   });
}

Server::~Server() {
  context_->stop();
  if (thread_.joinable()) thread_.join();
  // Ends the connections while this object, which they count themselves in, still lives.
  acceptor_.reset();
  timer_.reset();
  pause_.reset();
  streams_.clear();
  context_.reset();
}

bool Server::listen(const tcp::endpoint& endpoint, std::string* error) {
  std::string where = endpoint.address().to_string();
  if (endpoint.address().is_v6()) where = "[" + where + "]";
  where += ":" + std::to_string(endpoint.port());
  beast::error_code ec;
  acceptor_.emplace(*context_);
  acceptor_->open(endpoint.protocol(), ec);
#ifndef _WIN32
  // Restarting at once must not wait for the last run's closed connections; Windows reads
  // this option as leave to share a port another program listens on, so it is left off.
  if (!ec) acceptor_->set_option(net::socket_base::reuse_address(true), ec);
#endif
  if (!ec) acceptor_->bind(endpoint, ec);
  if (!ec) acceptor_->listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + where + ": " + ec.message();
    return false;
  }
  std::string host = where.substr(0, where.rfind(':'));
  if (endpoint.address().is_unspecified())
    host = endpoint.address().is_v6() ? "[::1]" : "127.0.0.1";
  origin_ = "http://" + host + ":" + std::to_string(endpoint.port());
  timer_.emplace(*context_);
  pause_.emplace(*context_);
  return true;
}

void Server::accept() {
  acceptor_->async_accept(*context_, [this](beast::error_code ec, tcp::socket socket) {
    if (!ec) {
      std::make_shared<Connection>(std::move(socket), *this, connections >= kMaxConnections)
          ->start();
      return accept();
    }
    if (ec == net::error::operation_aborted) return;
    // Out of descriptors, say: try again shortly rather than spin.
    pause_->expires_after(std::chrono::milliseconds(100));
    pause_->async_wait([this](beast::error_code) { accept(); });
  });
}

void Server::beat() {
  timer_->expires_after(kHeartbeat);
  timer_->async_wait([this](beast::error_code ec) {
    if (ec == net::error::operation_aborted) return;
    const Text comment = std::make_shared<const std::string>(":\n\n");
    for (const std::shared_ptr<Connection>& stream :
         std::vector(streams_.begin(), streams_.end())) {
      stream->send(comment);
    }
    beat();
  });
}

void Server::publish(LiveDocuments documents) {
  net::post(*context_,
            [this, documents = std::make_shared<const LiveDocuments>(std::move(documents))] {
              documents_ = documents;
              const Text event = eventOf(documents->nowPlayingJson);
              // A send may close its connection, which leaves the set.
              for (const std::shared_ptr<Connection>& stream :
                   std::vector(streams_.begin(), streams_.end())) {
                stream->send(event);
              }
            });
}

}  // namespace

std::optional<ServeAddress> parseServeAddress(std::string_view text) {
  ServeAddress address;
  std::string_view port = text;
  if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    std::string_view host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
      beast::error_code ec;
      net::ip::make_address_v6(std::string(host), ec);
      if (ec) return std::nullopt;
    } else if (host == "localhost") {
      host = "127.0.0.1";
    } else {
      beast::error_code ec;
      net::ip::make_address_v4(std::string(host), ec);
      if (ec) return std::nullopt;
    }
    address.host = std::string(host);
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos) {
    return std::nullopt;
  }
  const int number = std::stoi(std::string(port));
  if (number < 1 || number > 65535) return std::nullopt;
  address.port = static_cast<std::uint16_t>(number);
  return address;
}

std::unique_ptr<LiveServer> startLiveServer(const ServeAddress& address, std::string page,
                                            LiveDocuments documents, std::string* error) {
  beast::error_code ec;
  const net::ip::address ip = net::ip::make_address(address.host, ec);
  if (ec) {
    *error = "cannot listen on " + address.host + ": " + ec.message();
    return nullptr;
  }
  auto server = std::make_unique<Server>(std::move(page), std::move(documents));
  if (!server->listen(tcp::endpoint(ip, address.port), error)) return nullptr;
  server->run();
  return server;
}
