// The HTTP/1.1 server of setlist live, on Boost.Beast: one thread runs every connection
// asynchronously, so no client can hold up another or the polls.
#include "live/live_server.h"

// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "live/live_routes.h"
#include "online/request.h"

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using live::Reply;

// Connections served at once. Past it, a connection that is not an event stream is closed
// to make room: one that lingers after a refusal first, else the one longest in its state
// (waiting for a request, or for its answer to be taken). As streams take at most
// kMaxStreams, there is always one, and a new request always gets its answer.
constexpr std::size_t kMaxConnections = 160;
// Event streams among them; a new one past this closes the oldest, whose browser comes
// back on its own, so plain requests always find room.
constexpr std::size_t kMaxStreams = 120;
// A request whose head is not complete this long after the server began to wait for it
// closes its connection (idle keep-alive connections included).
constexpr auto kHeaderTimeout = std::chrono::seconds(10);
// An event stream whose client takes nothing of a write for this long is closed.
constexpr auto kStreamTimeout = std::chrono::seconds(60);
// The send buffer of an event stream's socket, in bytes.
constexpr int kStreamSendBuffer = 4096;
// An answer that a client does not take within this long closes its connection.
constexpr auto kWriteTimeout = std::chrono::seconds(30);
// After an error answer, what the client still sends is read and dropped for at most this
// long in all before the close, so the close does not reset the connection before the
// client read it, and a client that trickles bytes cannot keep it open.
constexpr auto kLinger = std::chrono::seconds(2);
// A comment line on every event stream, so that dead clients are found.
constexpr auto kHeartbeat = std::chrono::seconds(15);
// Events waiting for a client that does not read; one more closes its connection.
constexpr std::size_t kMaxQueuedEvents = 64;

using Text = std::shared_ptr<const std::string>;
using Duration = std::chrono::milliseconds;

// The header and stream timeouts, shortened by the tests' pace (see Clock in request.h)
// so that they need not wait a minute.
std::pair<Duration, Duration> timeouts() { return {paced(kHeaderTimeout), paced(kStreamTimeout)}; }

class Server;

// A connection's place in the server's order of closing to make room (lingering ones
// first, then by age) or of its event streams (by age).
using Place = std::pair<int, std::uint64_t>;

// One client connection: requests answered one after the other, or, after a request for
// /events, a stream of events until the client goes away.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, Server& server);
  ~Connection();
  void start() { readRequest(); }
  // Queues an event (or a comment line) for a streaming client.
  void send(Text text);
  void close();
  Place place;  // in the server's order of closing to make room, or of streams

 private:
  void readRequest();
  void answer();
  void respond(Reply reply);
  void linger();
  void drain(std::chrono::steady_clock::time_point end);
  void startStream();
  void watch();
  void writeNext();

  beast::tcp_stream stream_;
  Server& server_;
  bool counted_ = true;
  beast::flat_buffer buffer_;
  std::optional<live::RequestParser> parser_;
  http::response<http::string_body> response_;
  std::deque<Text> queue_;
  bool writing_ = false;
  bool closed_ = false;
  char ignored_[256];
};

class Server : public LiveServer {
 public:
  Server(std::string page, live::Theme theme, LiveDocuments documents,
         std::vector<std::string> hostNames)
      : page_(std::move(page)),
        theme_(std::move(theme)),
        documents_(std::make_shared<const LiveDocuments>(std::move(documents))),
        hostNames_(std::move(hostNames)) {}
  ~Server() override;

  platform::Status listen(const tcp::endpoint& endpoint);
  void run() {
    accept();
    beat();
    thread_ = std::thread([this] { context_->run(); });
  }
  void publish(LiveDocuments documents) override;
  std::string origin() const override { return origin_; }

  live::Site site() const { return {page_, *documents_, hostNames_, theme_}; }
  const LiveDocuments& documents() const { return *documents_; }
  // A connection that is not an event stream enters a state: it waits for a request or
  // for its answer to be taken, or it lingers.
  void enter(Connection& connection, bool lingering) {
    leave(connection);
    connection.place = {lingering ? 0 : 1, ++serials_};
    evictable_.emplace(connection.place, &connection);
  }
  // A connection becomes an event stream, or closes.
  void leave(const Connection& connection) { evictable_.erase(connection.place); }
  void addStream(const std::shared_ptr<Connection>& connection);
  void removeStream(const Connection& connection) { streams_.erase(connection.place); }
  std::size_t connections = 0;  // counted by the connections themselves
  const std::pair<Duration, Duration> timeout = timeouts();  // a head's, a stream write's

 private:
  void accept();
  void beat();
  // Closes the first connection in the order of making room, when there is one.
  void makeRoom();
  std::vector<std::shared_ptr<Connection>> currentStreams() const {
    std::vector<std::shared_ptr<Connection>> streams;
    for (const auto& [serial, stream] : streams_) streams.push_back(stream);
    return streams;
  }

  std::unique_ptr<net::io_context> context_ = std::make_unique<net::io_context>(1);
  std::optional<tcp::acceptor> acceptor_;
  std::optional<net::steady_timer> timer_;
  std::optional<net::steady_timer> pause_;
  std::thread thread_;
  std::string origin_;
  std::string page_;
  live::Theme theme_;
  std::shared_ptr<const LiveDocuments> documents_;
  std::vector<std::string> hostNames_;
  std::uint64_t serials_ = 0;
  // Both in their order of making room: the first is the first to close.
  std::map<Place, Connection*> evictable_;
  std::map<Place, std::shared_ptr<Connection>> streams_;
};

Text eventOf(const std::string& json) {
  return std::make_shared<const std::string>("data: " + json + "\n\n");
}

// The head of an event stream, which has no length: it ends when the connection closes.
Text streamHead(unsigned version) {
  http::response<http::empty_body> head{http::status::ok, version};
  head.set(http::field::server, "setlist live");
  head.set(http::field::content_type, "text/event-stream; charset=utf-8");
  head.set(http::field::cache_control, "no-store");
  head.keep_alive(false);
  std::ostringstream text;
  text << head.base() << "retry: 2000\n\n";
  return std::make_shared<const std::string>(text.str());
}

Connection::Connection(tcp::socket socket, Server& server)
    : stream_(std::move(socket)), server_(server) {
  ++server_.connections;
}

Connection::~Connection() {
  if (counted_) --server_.connections;
}

void Connection::close() {
  if (closed_) return;
  const std::shared_ptr<Connection> self = shared_from_this();  // the sets may hold the last
  closed_ = true;
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.close();
  if (counted_) --server_.connections;
  counted_ = false;
  server_.leave(*this);
  server_.removeStream(*this);
}

void Connection::readRequest() {
  parser_.emplace();
  parser_->header_limit(live::kHeaderLimit);
  server_.enter(*this, false);
  stream_.expires_after(server_.timeout.first);
  http::async_read_header(
      stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (self->closed_) return;
        if (!ec) return self->answer();
        // A malformed or oversized request is answered with its status and closes this
        // connection alone; a timeout or a client that went away just closes it.
        const auto bytes = self->buffer_.data();
        self->respond(
            live::refuse(ec, *self->parser_,
                         std::string_view(static_cast<const char*>(bytes.data()), bytes.size())));
      });
}

void Connection::answer() {
  Reply reply = live::route(*parser_, server_.site());
  if (reply.stream) return startStream();
  respond(std::move(reply));
}

void Connection::respond(Reply reply) {
  if (reply.status == http::status::unknown) return close();
  const http::request<http::empty_body>& request = parser_->get();
  const bool keepAlive = !reply.close && request.keep_alive();
  response_ = {};
  response_.result(reply.status);
  response_.version(reply.close ? 11 : request.version());
  response_.set(http::field::server, "setlist live");
  const bool binary = reply.type.starts_with("image/") && reply.type != "image/svg+xml";
  response_.set(http::field::content_type, binary || reply.type.starts_with("font/")
                                               ? reply.type
                                               : reply.type + "; charset=utf-8");
  response_.set(http::field::cache_control, "no-store");
  if (reply.status == http::status::method_not_allowed)
    response_.set(http::field::allow, "GET, HEAD");
  response_.keep_alive(keepAlive);
  response_.content_length(reply.body.size());
  if (request.method() != http::verb::head) response_.body() = std::move(reply.body);
  server_.enter(*this, false);
  stream_.expires_after(kWriteTimeout);
  http::async_write(
      stream_, response_,
      [self = shared_from_this(), keepAlive, reply](beast::error_code ec, std::size_t) {
        if (ec) return self->close();
        if (keepAlive) return self->readRequest();
        if (reply.close) return self->linger();
        self->close();
      });
}

// What the client sent beyond the head we read (a body, the rest of a long header) is read
// and dropped until it stops: closing with unread data would reset the connection, and the
// client could lose the answer.
void Connection::linger() {
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  server_.enter(*this, true);
  drain(std::chrono::steady_clock::now() + kLinger);
}

void Connection::drain(std::chrono::steady_clock::time_point end) {
  stream_.expires_at(end);
  stream_.async_read_some(net::buffer(ignored_),
                          [self = shared_from_this(), end](beast::error_code ec, std::size_t) {
                            if (ec) return self->close();
                            self->drain(end);
                          });
}

void Connection::startStream() {
  // Events are small: a small send buffer lets a client that stopped reading hold up a write
  // after a few events, which its timeout then ends, rather than after megabytes.
  beast::error_code ignored;
  stream_.socket().set_option(net::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
  stream_.expires_never();
  server_.leave(*this);
  server_.addStream(shared_from_this());
  watch();  // first, so that the write timeouts set below leave this read without one
  send(streamHead(parser_->get().version()));
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
  stream_.expires_after(server_.timeout.second);
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
  evictable_.clear();
  streams_.clear();
  context_.reset();
}

platform::Status Server::listen(const tcp::endpoint& endpoint) {
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
  if (ec) return platform::Error{ec.value(), where, "cannot listen there: " + ec.message()};
  std::string host = where.substr(0, where.rfind(':'));
  if (endpoint.address().is_unspecified())
    host = endpoint.address().is_v6() ? "[::1]" : "127.0.0.1";
  origin_ = "http://" + host + ":" + std::to_string(endpoint.port());
  timer_.emplace(*context_);
  pause_.emplace(*context_);
  return {};
}

void Server::accept() {
  acceptor_->async_accept(*context_, [this](beast::error_code ec, tcp::socket socket) {
    if (!ec) {
      if (connections >= kMaxConnections) makeRoom();
      std::make_shared<Connection>(std::move(socket), *this)->start();
      return accept();
    }
    if (ec == net::error::operation_aborted) return;
    // Out of descriptors, say: try again shortly rather than spin.
    pause_->expires_after(std::chrono::milliseconds(100));
    pause_->async_wait([this](beast::error_code) { accept(); });
  });
}

void Server::makeRoom() {
  if (!evictable_.empty()) evictable_.begin()->second->close();
}

void Server::addStream(const std::shared_ptr<Connection>& connection) {
  if (streams_.size() >= kMaxStreams) streams_.begin()->second->close();
  connection->place = {0, ++serials_};
  streams_.emplace(connection->place, connection);
}

void Server::beat() {
  timer_->expires_after(kHeartbeat);
  timer_->async_wait([this](beast::error_code ec) {
    if (ec == net::error::operation_aborted) return;
    const Text comment = std::make_shared<const std::string>(":\n\n");
    // A send may close its connection, which leaves the set.
    for (const std::shared_ptr<Connection>& stream : currentStreams()) stream->send(comment);
    beat();
  });
}

void Server::publish(LiveDocuments documents) {
  net::post(*context_,
            [this, documents = std::make_shared<const LiveDocuments>(std::move(documents))] {
              documents_ = documents;
              const Text event = eventOf(documents->nowPlayingJson);
              for (const std::shared_ptr<Connection>& stream : currentStreams()) {
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

platform::Expected<std::unique_ptr<LiveServer>> startLiveServer(
    const ServeAddress& address, const std::vector<std::string>& allowedHosts, std::string page,
    live::Theme theme, LiveDocuments documents) {
  beast::error_code ec;
  const net::ip::address ip = net::ip::make_address(address.host, ec);
  if (ec) return platform::Error{ec.value(), address.host, "cannot listen there: " + ec.message()};
  auto server = std::make_unique<Server>(std::move(page), std::move(theme), std::move(documents),
                                         live::hostNames(allowedHosts));
  if (platform::Status status = server->listen(tcp::endpoint(ip, address.port)); !status) {
    return status.error();
  }
  server->run();
  return std::unique_ptr<LiveServer>(std::move(server));
}
