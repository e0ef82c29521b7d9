// The web client on Windows: WinHTTP, which brings TLS, the system's certificate store and
// its proxy settings, and WebSockets; MD5 from BCrypt. Both are system DLLs. A WebSocket
// is read by a thread of its own, so that a receive can wait for a while and come back
// without a message while the connection stays as it is.
#include <windows.h>
// After windows.h:
#include <bcrypt.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/web_body.h"
#include "platform/web_client.h"
#include "platform/win32.h"

namespace platform {

namespace {

// Answers are small; a larger one is refused rather than held in memory.
constexpr std::size_t kMaxAnswer = 64 * 1024 * 1024;
// How long an answer that came while the body could not be sent is waited for.
constexpr int kEarlyAnswerSeconds = 5;

// An open WinHTTP handle, closed at the end of its scope.
class Internet {
 public:
  explicit Internet(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Internet() { reset(); }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  Internet(Internet&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Internet& operator=(Internet&& other) noexcept {
    reset();
    handle_ = other.handle_;
    other.handle_ = nullptr;
    return *this;
  }
  HINTERNET get() const { return handle_; }
  // Forgets a handle that another thread has closed.
  void release() { handle_ = nullptr; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() {
    if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HINTERNET handle_;
};

// WinHTTP's words for its own error codes live in winhttp.dll.
std::string winHttpMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? narrow(std::wstring_view(text, length)) : "";
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

// The failure of a WinHTTP call, in the words the Linux client uses where they meet.
Error failure(const std::string& subject, std::string_view doing, int seconds,
              DWORD code = GetLastError()) {
  const int value = static_cast<int>(code);
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // Wine's WinHTTP passes the socket's own timeout on
      return Error{value, subject,
                   (doing == "cannot send" ? "could not send within " : "no answer within ") +
                       std::to_string(seconds) + " s"};
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return Error{value, subject, "cannot connect: " + winHttpMessage(code)};
    case ERROR_WINHTTP_SECURE_FAILURE:
      return Error{value, subject, "certificate refused: " + winHttpMessage(code)};
    default:
      return Error{value, subject, std::string(doing) + ": " + winHttpMessage(code)};
  }
}

Internet openSession(int connectSeconds, int readSeconds) {
  Internet session(WinHttpOpen(L"Zorvanthelix", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  // Before Windows 8.1 the automatic proxy is unknown: the configured one instead.
  if (!session)
    session = Internet(WinHttpOpen(L"Zorvanthelix", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (session) {
    const int connect = connectSeconds * 1000;
    const int read = readSeconds * 1000;
    WinHttpSetTimeouts(session.get(), connect, connect, read, read);
  }
  return session;
}

// A session, a connection and a request opened for the URL.
struct Opened {
  Internet session;
  Internet connection;
  Internet request;
};

Status openRequest(const Url& url, const std::string& method, int connectSeconds, int readSeconds,
                   const std::string& subject, Opened* opened) {
  opened->session = openSession(connectSeconds, readSeconds);
  if (!opened->session) return failure(subject, "WinHttpOpen", readSeconds);
  opened->connection =
      Internet(WinHttpConnect(opened->session.get(), widenText(url.host).c_str(), url.port, 0));
  if (!opened->connection) return failure(subject, "cannot connect", connectSeconds);
  opened->request = Internet(WinHttpOpenRequest(
      opened->connection.get(), widenText(method).c_str(), widenText(url.target).c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!opened->request) return failure(subject, "cannot open the request", readSeconds);
  const int connect = connectSeconds * 1000;
  const int read = readSeconds * 1000;
  WinHttpSetTimeouts(opened->request.get(), connect, connect, read, read);
  // The wait for the answer's headers has its own timeout.
  DWORD answer = static_cast<DWORD>(read);
  WinHttpSetOption(opened->request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answer,
                   sizeof answer);
  return {};
}

// Sends the headers, then the body in pieces.
Status sendAll(HINTERNET request, const HttpRequest& http, const BodySizes& sizes,
               const std::string& subject) {
  std::wstring headers;
  for (const Header& h : http.headers) headers += widenText(h.name + ": " + h.value + "\r\n");
  DWORD length = static_cast<DWORD>(sizes.total);
  if (sizes.total > MAXDWORD) {
    headers += widenText("Content-Length: " + std::to_string(sizes.total) + "\r\n");
    length = WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
  }
  const wchar_t* extra = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
  const auto extraLength = static_cast<DWORD>(headers.size());
  const int seconds = http.readTimeoutSeconds;
  if (!WinHttpSendRequest(request, extra, extraLength, WINHTTP_NO_REQUEST_DATA, 0, length, 0))
    return failure(subject, "cannot send", seconds);
  return sendBody(http, sizes, [&](std::string_view piece) -> Status {
    DWORD written = 0;
    if (!WinHttpWriteData(request, piece.data(), static_cast<DWORD>(piece.size()), &written))
      return failure(subject, "cannot send", seconds);
    return {};
  });
}

// The answer's headers, from its raw header lines (the status line left out).
std::vector<Header> readHeaders(HINTERNET request) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                           raw.data(), &size, WINHTTP_NO_HEADER_INDEX))
    return {};
  raw.resize(size / sizeof(wchar_t));
  std::vector<Header> headers;
  const std::string text = narrow(raw);
  for (std::size_t at = text.find("\r\n"); at != std::string::npos;) {
    const std::size_t end = text.find("\r\n", at + 2);
    const std::string line = text.substr(at + 2, end == std::string::npos ? end : end - at - 2);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      const std::size_t value = line.find_first_not_of(' ', colon + 1);
      headers.push_back(
          {line.substr(0, colon), value == std::string::npos ? "" : line.substr(value)});
    }
    at = end;
  }
  return headers;
}

Expected<HttpResponse> readAnswer(HINTERNET request, const std::string& subject, int seconds) {
  if (!WinHttpReceiveResponse(request, nullptr)) return failure(subject, "no answer", seconds);
  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  response.status = static_cast<int>(status);
  response.headers = readHeaders(request);
  char buffer[64 * 1024];
  DWORD read = 0;
  do {
    if (!WinHttpReadData(request, buffer, sizeof buffer, &read))
      return failure(subject, "cannot read the answer", seconds);
    response.body.append(buffer, read);
    if (response.body.size() > kMaxAnswer) return makeError(subject, "the answer is too large");
  } while (read > 0);
  return response;
}

// While a blocking WinHTTP call runs, looks at `cancelled` every 50 ms and, once it says
// so, closes the handle the call waits on: WinHTTP then ends the call with an error.
class CancelWatch {
 public:
  CancelWatch(const Cancelled& cancelled, HINTERNET handle) {
    if (!cancelled) return;
    watcher_ = std::thread([this, &cancelled, handle] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!over_) {
        if (cancelled()) {
          WinHttpCloseHandle(handle);
          closed_ = true;
          return;
        }
        woken_.wait_for(lock, std::chrono::milliseconds(50));
      }
    });
  }
  ~CancelWatch() { end(); }
  // Ends the watch; whether it closed the handle.
  bool end() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      over_ = true;
    }
    woken_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    return closed_;
  }

 private:
  std::thread watcher_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool over_ = false;
  bool closed_ = false;
};

// A WebSocket whose messages a thread of its own receives into a queue.
class WinHttpWebSocket final : public WebSocket {
 public:
  WinHttpWebSocket(Opened opened, HINTERNET socket, std::string subject)
      : opened_(std::move(opened)), socket_(socket), raw_(socket), subject_(std::move(subject)) {
    InitializeSRWLock(&lock_);
    InitializeConditionVariable(&changed_);
    // The handshake's timeouts no longer apply: a chat may stay quiet for long.
    DWORD forever = 0x7FFFFFFF;
    WinHttpSetOption(socket_.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &forever, sizeof forever);
    reader_ = CreateThread(nullptr, 0, &WinHttpWebSocket::readAll, this, 0, nullptr);
  }
  ~WinHttpWebSocket() override { close(); }

  Status send(std::string_view text) override {
    if (!socket_) return makeError(subject_, "the connection is closed");
    const DWORD error =
        WinHttpWebSocketSend(socket_.get(), WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE,
                             const_cast<char*>(text.data()), static_cast<DWORD>(text.size()));
    if (error != NO_ERROR) return failure(subject_, "cannot send", 0, error);
    return {};
  }

  Expected<std::optional<std::string>> receive(int timeoutMs) override {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    AcquireSRWLockExclusive(&lock_);
    while (messages_.empty() && !ended_) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline ||
          !SleepConditionVariableSRW(&changed_, &lock_, static_cast<DWORD>(deadline - now), 0))
        break;
    }
    Expected<std::optional<std::string>> result = std::optional<std::string>();
    if (!messages_.empty()) {
      result = std::optional<std::string>(std::move(messages_.front()));
      messages_.pop_front();
    } else if (ended_) {
      result = end_;
    }
    ReleaseSRWLockExclusive(&lock_);
    return result;
  }

  void close() override {
    if (!socket_) return;
    // The close frame goes out; the server's answer is not waited for.
    WinHttpWebSocketShutdown(socket_.get(), WINHTTP_WEB_SOCKET_SUCCESS_CLOSE_STATUS, nullptr, 0);
    socket_.reset();  // ends a receive still waiting in the reader
    if (reader_ != nullptr) {
      WaitForSingleObject(reader_, INFINITE);
      CloseHandle(reader_);
      reader_ = nullptr;
    }
  }

 private:
  static DWORD WINAPI readAll(void* self) {
    static_cast<WinHttpWebSocket*>(self)->readMessages();
    return 0;
  }

  void readMessages() {
    std::string message;
    std::vector<char> buffer(64 * 1024);
    while (true) {
      DWORD read = 0;
      WINHTTP_WEB_SOCKET_BUFFER_TYPE type{};
      const DWORD error = WinHttpWebSocketReceive(raw_, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), &read, &type);
      if (error == ERROR_WINHTTP_TIMEOUT) continue;
      if (error != NO_ERROR) return finish(failure(subject_, "connection lost", 0, error));
      if (type == WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE)
        return finish(makeError(subject_, "closed by the server"));
      message.append(buffer.data(), read);
      if (type == WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE ||
          type == WINHTTP_WEB_SOCKET_BINARY_MESSAGE_BUFFER_TYPE) {
        AcquireSRWLockExclusive(&lock_);
        messages_.push_back(std::move(message));
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
        message.clear();
      }
    }
  }

  void finish(Error error) {
    AcquireSRWLockExclusive(&lock_);
    ended_ = true;
    end_ = std::move(error);
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&changed_);
  }

  Opened opened_;
  Internet socket_;
  const HINTERNET raw_;  // the reader's, which outlives socket_ until the reader ends
  std::string subject_;
  HANDLE reader_ = nullptr;
  SRWLOCK lock_;
  CONDITION_VARIABLE changed_;
  std::deque<std::string> messages_;
  bool ended_ = false;
  Error end_;
};

}  // namespace

Expected<HttpResponse> sendMeasured(const HttpRequest& request, const Url& url,
                                    const BodySizes& sizes, const std::string& subject) {
  Opened opened;
  if (Status s = openRequest(url, request.method, request.connectTimeoutSeconds,
                             request.readTimeoutSeconds, subject, &opened);
      !s)
    return s.error();
  if (Status s = sendAll(opened.request.get(), request, sizes, subject); !s) {
    // A server may answer before it has read the whole body (a refusal of an upload)
    // and close: its answer says more than the failed write.
    DWORD wait = kEarlyAnswerSeconds * 1000;
    WinHttpSetOption(opened.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait,
                     sizeof wait);
    Expected<HttpResponse> early = readAnswer(opened.request.get(), subject, kEarlyAnswerSeconds);
    return early ? early : s.error();
  }
  return readAnswer(opened.request.get(), subject, request.readTimeoutSeconds);
}

Expected<std::unique_ptr<WebSocket>> connectWebSocket(const std::string& text, int timeoutSeconds,
                                                      Cancelled cancelled) {
  const std::string subject = urlSubject(text);
  const auto url = parseUrl(text);
  if (!url) return url.error();
  if (!url->webSocket) return makeError(subject, "not a ws or wss URL");
  Opened opened;
  if (Status s = openRequest(*url, "GET", timeoutSeconds, timeoutSeconds, subject, &opened); !s)
    return s.error();
  HINTERNET request = opened.request.get();
  CancelWatch watch(cancelled, request);
  const bool upgraded =
      WinHttpSetOption(request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0) &&
      WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                         0) &&
      WinHttpReceiveResponse(request, nullptr);
  const DWORD code = GetLastError();
  if (watch.end()) {
    opened.request.release();
    return makeError(subject, "stopped");
  }
  if (!upgraded) return failure(subject, "WebSocket handshake failed", timeoutSeconds, code);
  HINTERNET socket = WinHttpWebSocketCompleteUpgrade(request, 0);
  if (socket == nullptr) return failure(subject, "WebSocket handshake failed", timeoutSeconds);
  opened.request.reset();
  return std::unique_ptr<WebSocket>(
      std::make_unique<WinHttpWebSocket>(std::move(opened), socket, subject));
}

namespace {

// The digest of data by a BCrypt hash algorithm, into `digest` of its size.
void bcryptDigest(LPCWSTR name, std::string_view data, unsigned char* digest, ULONG size) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, name, nullptr, 0) == 0) {
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
      BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                     static_cast<ULONG>(data.size()), 0);
      BCryptFinishHash(hash, digest, size, 0);
      BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
}

}  // namespace

std::string sha256(std::string_view data) {
  unsigned char digest[32] = {};
  bcryptDigest(BCRYPT_SHA256_ALGORITHM, data, digest, sizeof digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string md5Hex(std::string_view data) {
  unsigned char digest[16] = {};
  bcryptDigest(BCRYPT_MD5_ALGORITHM, data, digest, sizeof digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0xF];
  }
  return hex;
}

}  // namespace platform
