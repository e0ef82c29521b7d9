#include "online/loopback.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>
#include <random>
#include <string_view>

#include "platform/ascii.h"
#include "platform/report.h"

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// How long a connection may take to send its request.
constexpr std::chrono::seconds kReadWait{5};

// The decoded value of `name` in a URL's query, when it is there.
std::optional<std::string> queryValue(std::string_view target, std::string_view name) {
  const std::size_t question = target.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) != name) continue;
    const std::string_view raw =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (const long byte = raw[i] == '%' ? platform::readHex(raw.substr(i + 1), 2) : -1;
          byte >= 0) {
        value.push_back(static_cast<char>(byte));
        i += 2;
      } else {
        value.push_back(raw[i] == '+' ? ' ' : raw[i]);
      }
    }
    return value;
  }
  return std::nullopt;
}

struct Connection {
  explicit Connection(net::ip::tcp::socket socket) : stream(std::move(socket)) {}
  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  http::request<http::string_body> request;
};

void answer(Connection& connection, http::status status, std::string_view text) {
  http::response<http::string_body> response{status, 11};
  response.set(http::field::content_type, "text/plain; charset=utf-8");
  response.set(http::field::connection, "close");
  response.body() = text;
  response.prepare_payload();
  beast::error_code ignored;
  connection.stream.expires_after(kReadWait);
  http::write(connection.stream, response, ignored);
  connection.stream.socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
}

}  // namespace

struct Loopback::Impl {
  net::io_context io;
  net::ip::tcp::acceptor acceptor{io};
  std::string service;
  std::string state;
  std::optional<platform::Expected<std::string>> result;

  void accept() {
    acceptor.async_accept([this](beast::error_code error, net::ip::tcp::socket socket) {
      if (error) return;  // closed
      auto connection = std::make_shared<Connection>(std::move(socket));
      connection->stream.expires_after(kReadWait);
      http::async_read(connection->stream, connection->buffer, connection->request,
                       [this, connection](beast::error_code readError, std::size_t) {
                         if (!readError) take(*connection);
                       });
      accept();
    });
  }

  // One request of the browser: the code or the refusal when it carries the state.
  void take(Connection& connection) {
    const std::string target(connection.request.target());
    const auto code = queryValue(target, "code");
    const auto refusal = queryValue(target, "error");
    if (!code && !refusal) return answer(connection, http::status::not_found, "Not found\n");
    if (queryValue(target, "state") != state) {
      platform::reportWarning(
          "an answer without the state this login sent came to the "
          "listener: it is not taken");
      return answer(connection, http::status::bad_request,
                    "This answer does not carry the state setlist sent, so it does not come "
                    "from the login setlist started: it is not taken.\n");
    }
    if (code && !code->empty() && !result) {
      result.emplace(*code);
      return answer(connection, http::status::ok,
                    "setlist is logged in to " + service + ". You can close this page.\n");
    }
    const auto why = queryValue(target, "error_description");
    if (!result) {
      result.emplace(platform::makeError(
          service, "the authorization was refused: " + (why ? *why : refusal.value_or(""))));
    }
    answer(connection, http::status::ok, "setlist was not let in to " + service + ".\n");
  }
};

Loopback::Loopback() : impl_(std::make_unique<Impl>()) {}
Loopback::~Loopback() = default;

platform::Status Loopback::listen(unsigned short port) {
  beast::error_code error;
  const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
  impl_->acceptor.open(endpoint.protocol(), error);
  if (!error) impl_->acceptor.bind(endpoint, error);
  if (!error) impl_->acceptor.listen(net::socket_base::max_listen_connections, error);
  if (error) {
    return platform::makeError("127.0.0.1:" + std::to_string(port),
                               "cannot listen for the browser's return: " + error.message());
  }
  return {};
}

unsigned short Loopback::port() const { return impl_->acceptor.local_endpoint().port(); }

std::string Loopback::newState() {
  std::random_device random;
  std::string state;
  for (int i = 0; i < 32; ++i) state += "0123456789abcdef"[random() % 16];
  return state;
}

platform::Expected<std::string> Loopback::waitForCode(const std::string& service,
                                                      const std::string& state,
                                                      std::chrono::milliseconds most,
                                                      const StopSignal& stop) {
  impl_->service = service;
  impl_->state = state;
  impl_->accept();
  const auto deadline = std::chrono::steady_clock::now() + most;
  while (!impl_->result && !stop.requested() && std::chrono::steady_clock::now() < deadline) {
    impl_->io.run_for(std::chrono::milliseconds(100));
    if (impl_->io.stopped()) impl_->io.restart();
  }
  if (impl_->result) return *impl_->result;
  const std::string listener = "http://127.0.0.1:" + std::to_string(port()) + "/";
  if (stop.requested()) return platform::makeError(listener, "stopped");
  return platform::makeError(listener, "no answer from " + service + " came back in time");
}
