// A client for web services over http:// and https://, and WebSockets over ws:// and
// wss://. One interface, one implementation per system: WinHTTP on Windows (TLS,
// certificates and proxy settings from the system), Boost.Beast over Asio and OpenSSL
// elsewhere (certificates from OpenSSL's default paths, so SSL_CERT_FILE works, checked
// against the host name, with SNI). No call retries by itself: the caller decides.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/url.h"

namespace platform {

struct Header {
  std::string name;
  std::string value;
};

// A piece of a request body: bytes in memory, or a whole file that is streamed from disk
// as it is sent (an upload never sits in memory).
struct BodyPart {
  std::string bytes;
  std::string filePath;  // when not empty, the file's contents instead of bytes
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;  // http://host[:port]/path?query or https://...
  std::vector<Header> headers;
  std::vector<BodyPart> body;  // sent in order; Content-Length is their total
  int connectTimeoutSeconds = 10;
  int readTimeoutSeconds = 30;  // for each read of the answer (and each write)
  // Called now and then while the body is sent: bytes sent so far, of total.
  std::function<void(std::uint64_t sent, std::uint64_t total)> progress;
};

struct HttpResponse {
  int status = 0;
  std::vector<Header> headers;
  std::string body;

  // The value of the first header of that name (any case), or empty.
  std::string header(std::string_view name) const;
};

// Sends the request and reads the whole answer, whatever its status. A failure is a
// connection, TLS, timeout or file error: its subject is the URL without its query.
Expected<HttpResponse> sendRequest(const HttpRequest& request);

// A text-message WebSocket. Used by one thread at a time.
class WebSocket {
 public:
  virtual ~WebSocket() = default;
  // Sends one text message.
  virtual Status send(std::string_view text) = 0;
  // Waits up to timeoutMs for the next text message: the message; an empty optional when
  // none came in time; an Error when the connection closed or failed.
  virtual Expected<std::optional<std::string>> receive(int timeoutMs) = 0;
  // Closes the connection, with a close frame when it still stands.
  virtual void close() = 0;
};

// Whether the caller has given up waiting (a stop from another thread or a signal).
using Cancelled = std::function<bool()>;

// Opens a WebSocket to ws://host[:port]/path or wss://... `cancelled`, when given, is
// looked at every 50 ms while the connection is set up (TCP, TLS, the upgrade) and while it
// closes: once it says so, the attempt ends at once with the error "stopped", and a close
// does not wait for the server's answer.
Expected<std::unique_ptr<WebSocket>> connectWebSocket(const std::string& url, int timeoutSeconds,
                                                      Cancelled cancelled = {});

// name=value pairs joined with '&', each side percent-encoded: a query string or an
// application/x-www-form-urlencoded body.
std::string formEncode(const std::vector<Header>& fields);

// The MD5 digest of data as 32 lower-case hex digits (OpenSSL; BCrypt on Windows).
std::string md5Hex(std::string_view data);
// The SHA-256 digest of data, its 32 bytes as they are (OpenSSL; BCrypt on Windows).
std::string sha256(std::string_view data);

}  // namespace platform
