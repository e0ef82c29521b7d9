// A web service's stand-in on 127.0.0.1 for tests in the process, on Boost.Beast: each
// request is answered by the test's handler, one connection at a time, and kept with its
// User-Agent so that the test can see what was asked.
#pragma once

// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MockHttp {
 public:
  struct Reply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
  };
  struct Seen {
    std::string target;
    std::string userAgent;
  };
  using Handler = std::function<Reply(const std::string& target)>;

  explicit MockHttp(Handler handler) : handler_(std::move(handler)) {
    namespace net = boost::asio;
    acceptor_.open(net::ip::tcp::v4());
    acceptor_.bind({net::ip::make_address("127.0.0.1"), 0});
    acceptor_.listen();
    thread_ = std::thread([this] { serve(); });
  }
  ~MockHttp() {
    stopping_ = true;
    boost::asio::ip::tcp::socket wake(context_);
    boost::system::error_code ignored;
    wake.connect(acceptor_.local_endpoint(), ignored);  // ends the accept that waits
    thread_.join();
  }
  std::string root() const {
    return "http://127.0.0.1:" + std::to_string(acceptor_.local_endpoint().port());
  }
  std::vector<Seen> seen() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  void serve() {
    namespace http = boost::beast::http;
    while (!stopping_) {
      boost::asio::ip::tcp::socket socket(context_);
      boost::system::error_code ec;
      acceptor_.accept(socket, ec);
      if (ec || stopping_) return;
      boost::beast::flat_buffer buffer;
      http::request<http::string_body> request;
      http::read(socket, buffer, request, ec);
      if (ec) continue;
      const std::string target(request.target());
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back({target, std::string(request[http::field::user_agent])});
      }
      const Reply reply = handler_(target);
      http::response<http::string_body> response{static_cast<http::status>(reply.status), 11};
      for (const auto& [name, value] : reply.headers) response.set(name, value);
      response.body() = reply.body;
      response.prepare_payload();
      response.keep_alive(false);
      http::write(socket, response, ec);
    }
  }

  Handler handler_;
  boost::asio::io_context context_;
  boost::asio::ip::tcp::acceptor acceptor_{context_};
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
  std::thread thread_;
};
