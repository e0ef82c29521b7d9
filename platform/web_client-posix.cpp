// The web client on POSIX systems: Boost.Beast over Asio, TLS through OpenSSL with the
// certificates of its default paths (SSL_CERT_FILE, SSL_CERT_DIR), the host name checked
// and sent for SNI. Every operation runs on a private io_context until it completes, so
// the code reads in sequence while each step still has its own deadline.
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/web_body.h"
#include "platform/web_client.h"

namespace platform {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// Answers are small; a larger one is refused rather than held in memory.
constexpr std::uint64_t kMaxAnswer = 64 * 1024 * 1024;
// How long an answer that came while the body could not be sent is waited for.
constexpr int kEarlyAnswerSeconds = 5;

// How often a wait that can be cancelled looks at `cancelled`.
constexpr std::chrono::milliseconds kCancelPoll{50};
// How long a close waits for the close frame to go out once the caller has given up.
constexpr std::chrono::milliseconds kCancelledClose{100};

// Starts an operation with a handler and runs the io_context until the handler has run.
// Once `cancelled` says so, `abandon` closes what the operation waits on, which ends it at
// once; the result is then operation_aborted.
template <class Start>
beast::error_code awaitUnless(net::io_context& io, const Cancelled& cancelled,
                              const std::function<void()>& abandon, Start&& start) {
  beast::error_code result;
  bool done = false;
  start([&](beast::error_code ec, auto&&...) {
    result = ec;
    done = true;
  });
  io.restart();
  bool abandoned = false;
  while (!done) {
    if (!abandoned && cancelled && cancelled()) {
      abandon();
      abandoned = true;
    }
    const std::size_t ran = cancelled && !abandoned ? io.run_one_for(kCancelPoll) : io.run_one();
    if (ran == 0 && io.stopped()) break;
  }
  return abandoned ? beast::error_code(net::error::operation_aborted) : result;
}

template <class Start>
beast::error_code await(net::io_context& io, Start&& start) {
  return awaitUnless(io, {}, {}, std::forward<Start>(start));
}

// Runs the io_context until *done or the deadline; false when the deadline came first.
bool runUntil(net::io_context& io, const bool& done, Clock::time_point deadline) {
  io.restart();
  while (!done)
    if (io.run_one_until(deadline) == 0) return done;
  return true;
}

Error failure(const std::string& subject, std::string_view doing, const beast::error_code& ec) {
  return Error{ec.value(), subject, std::string(doing) + ": " + ec.message()};
}

// The reason a TLS handshake failed: the certificate check's own words when it refused.
Error tlsFailure(const std::string& subject, SSL* ssl, const beast::error_code& ec) {
  const long verify = SSL_get_verify_result(ssl);
  if (verify == X509_V_OK) return failure(subject, "TLS handshake failed", ec);
  return makeError(subject,
                   std::string("certificate refused: ") + X509_verify_cert_error_string(verify));
}

bool isAddress(const std::string& host) {
  beast::error_code ec;
  net::ip::make_address(host, ec);
  return !ec;
}

// The Host header: the name, and the port when it is not the scheme's own.
std::string hostHeader(const Url& url) {
  std::string host = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  if (url.port != (url.secure ? 443 : 80)) host += ":" + std::to_string(url.port);
  return host;
}

Error stopped(const std::string& subject) { return makeError(subject, "stopped"); }

// Resolves the host and connects within the timeout, unless cancelled first.
Status connectTcp(net::io_context& io, beast::tcp_stream& tcp, const Url& url, int seconds,
                  const std::string& subject, const Cancelled& cancelled = {}) {
  tcp::resolver resolver(io);
  beast::error_code ec;
  const auto endpoints = resolver.resolve(url.host, std::to_string(url.port), ec);
  if (ec) return failure(subject, "cannot find " + url.host, ec);
  tcp.expires_after(std::chrono::seconds(seconds));
  ec = awaitUnless(
      io, cancelled, [&] { tcp.close(); },
      [&](auto handler) { tcp.async_connect(endpoints, std::move(handler)); });
  if (ec == net::error::operation_aborted) return stopped(subject);
  if (ec == beast::error::timeout)
    return makeError(subject, "no connection within " + std::to_string(seconds) + " s");
  if (ec) return failure(subject, "cannot connect", ec);
  return {};
}

// The TLS handshake: certificates from OpenSSL's default paths, checked against the host.
Status startTls(net::io_context& io, beast::ssl_stream<beast::tcp_stream>& stream, const Url& url,
                int seconds, const std::string& subject, const Cancelled& cancelled = {}) {
  SSL* ssl = stream.native_handle();
  if (isAddress(url.host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), url.host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, url.host.c_str());
    SSL_set1_host(ssl, url.host.c_str());
  }
  stream.set_verify_mode(ssl::verify_peer);
  beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(seconds));
  const beast::error_code ec = awaitUnless(
      io, cancelled, [&] { beast::get_lowest_layer(stream).close(); },
      [&](auto handler) { stream.async_handshake(ssl::stream_base::client, std::move(handler)); });
  if (ec == net::error::operation_aborted) return stopped(subject);
  if (ec) return tlsFailure(subject, stream.native_handle(), ec);
  return {};
}

// The process's one TLS client context, made at its first secure connection and shared by
// every thread's connections after it. Making it reads and parses the system's certificate
// authorities (144 on Debian 12, 0.76 MiB in memory), which a context per request did again
// for every request, in every sender at once. Never destroyed: a sender may still be ending
// while the program exits.
ssl::context& clientTlsContext() {
  static ssl::context* const context = [] {
    auto* made = new ssl::context(ssl::context::tls_client);
    made->set_default_verify_paths();
    return made;
  }();
  return *context;
}

// One request and its answer over a connected stream (TCP, or TLS over TCP).
template <class Stream>
class Exchange {
 public:
  Exchange(net::io_context& io, Stream& stream, const HttpRequest& request, std::string subject)
      : io_(io), stream_(stream), request_(request), subject_(std::move(subject)) {}

  Expected<HttpResponse> run(const Url& url, const BodySizes& sizes) {
    const auto write = [this](std::string_view bytes) { return writeBytes(bytes); };
    Status sent = sendHead(url, sizes.total);
    if (sent) sent = sendBody(request_, sizes, write);
    if (!sent) {
      // A server may answer before it has read the whole body (a refusal of an upload)
      // and close: its answer says more than the failed write.
      Expected<HttpResponse> early = readAnswer(kEarlyAnswerSeconds);
      return early ? early : sent.error();
    }
    return readAnswer(request_.readTimeoutSeconds);
  }

 private:
  beast::tcp_stream& tcp() { return beast::get_lowest_layer(stream_); }

  Error writeFailure(const beast::error_code& ec) {
    if (ec == beast::error::timeout)
      return makeError(
          subject_, "could not send within " + std::to_string(request_.readTimeoutSeconds) + " s");
    return failure(subject_, "cannot send", ec);
  }

  Status sendHead(const Url& url, std::uint64_t total) {
    http::request<http::empty_body> head;
    head.method_string(request_.method);
    head.target(url.target);
    head.version(11);
    head.set(http::field::host, hostHeader(url));
    for (const Header& h : request_.headers) head.insert(h.name, h.value);
    if (total > 0 || (request_.method != "GET" && request_.method != "HEAD"))
      head.content_length(total);
    http::request_serializer<http::empty_body> serializer(head);
    tcp().expires_after(std::chrono::seconds(request_.readTimeoutSeconds));
    const beast::error_code ec = await(io_, [&](auto handler) {
      http::async_write_header(stream_, serializer, std::move(handler));
    });
    if (ec) return writeFailure(ec);
    return {};
  }

  Status writeBytes(std::string_view bytes) {
    tcp().expires_after(std::chrono::seconds(request_.readTimeoutSeconds));
    const beast::error_code ec = await(io_, [&](auto handler) {
      net::async_write(stream_, net::buffer(bytes.data(), bytes.size()), std::move(handler));
    });
    if (ec) return writeFailure(ec);
    return {};
  }

  Expected<HttpResponse> readAnswer(int seconds) {
    http::response_parser<http::string_body> parser;
    parser.body_limit(kMaxAnswer);
    if (request_.method == "HEAD") parser.skip(true);
    beast::flat_buffer buffer;
    while (!parser.is_done()) {
      tcp().expires_after(std::chrono::seconds(seconds));
      const beast::error_code ec = await(io_, [&](auto handler) {
        http::async_read_some(stream_, buffer, parser, std::move(handler));
      });
      if (ec == beast::error::timeout)
        return makeError(subject_, "no answer within " + std::to_string(seconds) + " s");
      if (ec) return failure(subject_, "cannot read the answer", ec);
    }
    HttpResponse response;
    response.status = static_cast<int>(parser.get().result_int());
    for (const auto& field : parser.get())
      response.headers.push_back({std::string(field.name_string()), std::string(field.value())});
    response.body = std::move(parser.get().body());
    return response;
  }

  net::io_context& io_;
  Stream& stream_;
  const HttpRequest& request_;
  std::string subject_;
};

// A WebSocket over TCP, or over TLS over TCP. A receive that times out leaves its read
// pending, and the next receive goes on waiting for it: Beast cannot cancel a read alone.
template <bool kSecure>
class BeastWebSocket final : public WebSocket {
  using Lower =
      std::conditional_t<kSecure, beast::ssl_stream<beast::tcp_stream>, beast::tcp_stream>;

 public:
  BeastWebSocket(std::string subject, int seconds, Cancelled cancelled) requires kSecure
      : ws_(io_, clientTlsContext()),
        subject_(std::move(subject)),
        seconds_(seconds),
        cancelled_(std::move(cancelled)) {}
  BeastWebSocket(std::string subject, int seconds, Cancelled cancelled) requires(!kSecure)
      : ws_(io_),
        subject_(std::move(subject)),
        seconds_(seconds),
        cancelled_(std::move(cancelled)) {}
  ~BeastWebSocket() override { close(); }

  Status open(const Url& url) {
    auto& tcp = beast::get_lowest_layer(ws_);
    if (Status s = connectTcp(io_, tcp, url, seconds_, subject_, cancelled_); !s) return s;
    if constexpr (kSecure) {
      if (Status s = startTls(io_, ws_.next_layer(), url, seconds_, subject_, cancelled_); !s)
        return s;
    }
    beast::get_lowest_layer(ws_).expires_never();
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = std::chrono::seconds(seconds_);
    timeouts.idle_timeout = websocket::stream_base::none();
    ws_.set_option(timeouts);
    const beast::error_code ec = awaitUnless(
        io_, cancelled_, [&] { tcp.close(); },
        [&](auto handler) {
          ws_.async_handshake(hostHeader(url), url.target, std::move(handler));
        });
    if (ec == net::error::operation_aborted) return stopped(subject_);
    if (ec) return failure(subject_, "WebSocket handshake failed", ec);
    ws_.text(true);
    open_ = true;
    return {};
  }

  Status send(std::string_view text) override {
    if (!open_) return makeError(subject_, "the connection is closed");
    bool done = false;
    beast::error_code result;
    ws_.async_write(net::buffer(text.data(), text.size()), [&](beast::error_code ec, std::size_t) {
      result = ec;
      done = true;
    });
    if (!runUntil(io_, done, Clock::now() + std::chrono::seconds(seconds_))) {
      drop();
      return makeError(subject_, "could not send within " + std::to_string(seconds_) + " s");
    }
    if (result) {
      drop();
      return failure(subject_, "cannot send", result);
    }
    return {};
  }

  Expected<std::optional<std::string>> receive(int timeoutMs) override {
    if (!open_ && !reading_) return makeError(subject_, "the connection is closed");
    if (!reading_) startRead();
    if (!runUntil(io_, readDone_, Clock::now() + std::chrono::milliseconds(timeoutMs)))
      return std::optional<std::string>();
    reading_ = false;
    if (readError_ == websocket::error::closed) {
      open_ = false;
      const auto& reason = ws_.reason().reason;
      return makeError(subject_,
                       "closed by the server " + std::string(reason.data(), reason.size()));
    }
    if (readError_) {
      drop();
      return failure(subject_, "connection lost", readError_);
    }
    std::string message = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    return std::optional<std::string>(std::move(message));
  }

  void close() override {
    if (!open_) return;
    bool done = false;
    ws_.async_close(websocket::close_code::normal, [&](beast::error_code) { done = true; });
    // The close handshake, and a read still pending, each get a moment to end; only the
    // close frame's when the caller has given up.
    const bool hurried = cancelled_ && cancelled_();
    const auto deadline =
        Clock::now() + (hurried ? kCancelledClose : std::chrono::milliseconds(2000));
    if (!runUntil(io_, done, deadline) || (reading_ && !runUntil(io_, readDone_, deadline))) drop();
    open_ = false;
  }

 private:
  void startRead() {
    reading_ = true;
    readDone_ = false;
    ws_.async_read(buffer_, [this](beast::error_code ec, std::size_t) {
      readError_ = ec;
      readDone_ = true;
    });
  }

  // Closes the socket at once and lets every pending handler end.
  void drop() {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    io_.restart();
    io_.run();
    open_ = false;
    reading_ = false;
  }

  net::io_context io_;
  websocket::stream<Lower> ws_;
  beast::flat_buffer buffer_;
  std::string subject_;
  int seconds_;
  Cancelled cancelled_;
  bool open_ = false;
  bool reading_ = false;
  bool readDone_ = false;
  beast::error_code readError_;
};

template <bool kSecure>
Expected<std::unique_ptr<WebSocket>> openWebSocket(const Url& url, std::string subject, int seconds,
                                                   Cancelled cancelled) {
  auto socket =
      std::make_unique<BeastWebSocket<kSecure>>(std::move(subject), seconds, std::move(cancelled));
  if (Status s = socket->open(url); !s) return s.error();
  return std::unique_ptr<WebSocket>(std::move(socket));
}

}  // namespace

Expected<HttpResponse> sendMeasured(const HttpRequest& request, const Url& url,
                                    const BodySizes& sizes, const std::string& subject) {
  net::io_context io;
  if (!url.secure) {
    beast::tcp_stream stream(io);
    if (Status s = connectTcp(io, stream, url, request.connectTimeoutSeconds, subject); !s)
      return s.error();
    return Exchange(io, stream, request, subject).run(url, sizes);
  }
  beast::ssl_stream<beast::tcp_stream> stream(io, clientTlsContext());
  const int seconds = request.connectTimeoutSeconds;
  if (Status s = connectTcp(io, beast::get_lowest_layer(stream), url, seconds, subject); !s)
    return s.error();
  if (Status s = startTls(io, stream, url, seconds, subject); !s) return s.error();
  return Exchange(io, stream, request, subject).run(url, sizes);
}

Expected<std::unique_ptr<WebSocket>> connectWebSocket(const std::string& text, int timeoutSeconds,
                                                      Cancelled cancelled) {
  const auto url = parseUrl(text);
  if (!url) return url.error();
  if (!url->webSocket) return makeError(urlSubject(text), "not a ws or wss URL");
  if (url->secure)
    return openWebSocket<true>(*url, urlSubject(text), timeoutSeconds, std::move(cancelled));
  return openWebSocket<false>(*url, urlSubject(text), timeoutSeconds, std::move(cancelled));
}

std::string sha256(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string md5Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xF];
  }
  return hex;
}

}  // namespace platform
