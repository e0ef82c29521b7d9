#include "mock_http.h"

// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <mutex>
#include <thread>

namespace net = boost::asio;
namespace http = boost::beast::http;

struct MockHttp::Server {
  explicit Server(Handler h) : handler(std::move(h)) {
    acceptor.open(net::ip::tcp::v4());
    acceptor.bind({net::ip::make_address("127.0.0.1"), 0});
    acceptor.listen();
    thread = std::thread([this] { serve(); });
  }
  ~Server() {
    stopping = true;
    net::ip::tcp::socket wake(context);
    boost::system::error_code ignored;
    wake.connect(acceptor.local_endpoint(), ignored);  // ends the accept that waits
    thread.join();
  }

  void serve() {
    while (!stopping) {
      net::ip::tcp::socket socket(context);
      boost::system::error_code ec;
      acceptor.accept(socket, ec);
      if (ec || stopping) return;
      boost::beast::flat_buffer buffer;
      http::request<http::string_body> request;
      http::read(socket, buffer, request, ec);
      if (ec) continue;
      const std::string target(request.target());
      {
        const std::lock_guard<std::mutex> lock(mutex);
        seen.push_back({target, std::string(request[http::field::user_agent])});
      }
      const Reply reply = handler(target);
      http::response<http::string_body> response{static_cast<http::status>(reply.status), 11};
      for (const auto& [name, value] : reply.headers) response.set(name, value);
      response.body() = reply.body;
      response.prepare_payload();
      response.keep_alive(false);
      http::write(socket, response, ec);
    }
  }

  Handler handler;
  net::io_context context;
  net::ip::tcp::acceptor acceptor{context};
  std::atomic<bool> stopping{false};
  mutable std::mutex mutex;
  std::vector<Seen> seen;
  std::thread thread;
};

MockHttp::MockHttp(Handler handler) : server_(std::make_unique<Server>(std::move(handler))) {}

MockHttp::~MockHttp() = default;

std::string MockHttp::root() const {
  return "http://127.0.0.1:" + std::to_string(server_->acceptor.local_endpoint().port());
}

std::vector<MockHttp::Seen> MockHttp::seen() const {
  const std::lock_guard<std::mutex> lock(server_->mutex);
  return server_->seen;
}
