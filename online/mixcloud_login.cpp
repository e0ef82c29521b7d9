// setlist login mixcloud: the OAuth code flow with a loopback redirect. The user opens
// Mixcloud's authorize page; Mixcloud sends the browser back to a one-shot listener on
// 127.0.0.1 with ?code=...; the code is exchanged for an access token, which is kept in
// the accounts file and nowhere else.
// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "online/accounts.h"
#include "online/json.h"
#include "online/mixcloud.h"
#include "online/online.h"
#include "platform/ascii.h"
#include "platform/secret_input.h"
#include "platform/web_client.h"

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// How long the listener waits for the browser to come back.
constexpr auto kLoginWait = std::chrono::minutes(10);

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
      if (const long byte =
              raw[i] == '%' && i + 2 < raw.size() ? platform::readHex(raw.substr(i + 1), 2) : -1;
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

// The loopback listener: answers each browser request until one carries the code (or
// Mixcloud's refusal), or the wait runs out.
class Loopback {
 public:
  platform::Status listen(unsigned short port) {
    beast::error_code error;
    const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
    acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(net::socket_base::max_listen_connections, error);
    if (error) {
      return platform::makeError("127.0.0.1:" + std::to_string(port),
                                 "cannot listen for Mixcloud's answer: " + error.message());
    }
    return {};
  }

  unsigned short port() const { return acceptor_.local_endpoint().port(); }

  platform::Expected<std::string> waitForCode() {
    const auto deadline = std::chrono::steady_clock::now() + kLoginWait;
    while (std::chrono::steady_clock::now() < deadline) {
      net::ip::tcp::socket socket(io_);
      beast::flat_buffer buffer;
      http::request<http::string_body> request;
      bool done = false;
      acceptor_.async_accept(socket, [&](beast::error_code error) {
        if (error) return;
        http::async_read(socket, buffer, request,
                         [&](beast::error_code readError, std::size_t) { done = !readError; });
      });
      io_.restart();
      io_.run_for(std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()));
      if (!done) {
        acceptor_.cancel();
        beast::error_code ignored;
        socket.close(ignored);
        io_.restart();
        io_.poll();
        continue;
      }
      const std::string target(request.target());
      const auto code = queryValue(target, "code");
      const auto refusal = queryValue(target, "error");
      const bool answer = code || refusal;
      answer_(socket, answer ? http::status::ok : http::status::not_found,
              code     ? "setlist is logged in to Mixcloud. You can close this page.\n"
              : answer ? "setlist was not let in to Mixcloud.\n"
                       : "Not found\n");
      if (code && !code->empty()) return *code;
      if (refusal) {
        const auto why = queryValue(target, "error_description");
        return platform::makeError("Mixcloud",
                                   "the authorization was refused: " + (why ? *why : *refusal));
      }
    }
    return platform::makeError("Mixcloud", "no answer came back to the listener within 10 minutes");
  }

 private:
  static void answer_(net::ip::tcp::socket& socket, http::status status, const char* text) {
    http::response<http::string_body> response{status, 11};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.set(http::field::connection, "close");
    response.body() = text;
    response.prepare_payload();
    beast::error_code ignored;
    http::write(socket, response, ignored);
    socket.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  }

  net::io_context io_;
  net::ip::tcp::acceptor acceptor_{io_};
};

platform::Expected<std::string> exchangeCode(const std::string& site, const std::string& clientId,
                                             const std::string& redirect, const std::string& secret,
                                             const std::string& code) {
  platform::HttpRequest request;
  request.url = site + "/oauth/access_token?" +
                platform::formEncode({{"client_id", clientId},
                                      {"redirect_uri", redirect},
                                      {"client_secret", secret},
                                      {"code", code}});
  const auto response = platform::sendRequest(request);
  if (!response) return response.error();
  const auto json = parseJson(response->body);
  if (json && response->status / 100 == 2 && !(*json)["access_token"].string().empty()) {
    return (*json)["access_token"].string();
  }
  std::string why = json ? (*json)["error"]["message"].string() : "";
  if (why.empty() && json) why = (*json)["error"].string();
  if (why.empty()) why = "HTTP " + std::to_string(response->status) + ", no access token";
  return platform::makeError("Mixcloud", "the code was not exchanged for a token: " + why);
}

}  // namespace

platform::Expected<LoginResult> loginMixcloud(const LoginRequest& login) {
  const std::string& clientId = login.options.at("--client-id");
  int port = 0;
  if (const auto given = login.options.find("--port"); given != login.options.end()) {
    const std::string& value = given->second;
    if (value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(value) > 65535) {
      return platform::makeError("", "--port takes a port number, not " + value);
    }
    port = std::stoi(value);
  }
  // One root given with --url stands for both of Mixcloud's.
  std::string root = login.url;
  while (!root.empty() && root.back() == '/') root.pop_back();
  const bool mixcloud = root == kMixcloudApi;
  const std::string site = mixcloud ? kMixcloudSite : root;
  const std::string& api = root;

  std::cerr << "Mixcloud client secret: " << std::flush;
  const auto secret = platform::readSecretLine();
  if (!secret) return secret.error();
  if (secret->empty()) return platform::makeError(login.name, "no client secret was given");
  Loopback loopback;
  if (platform::Status listening = loopback.listen(static_cast<unsigned short>(port)); !listening) {
    return listening.error();
  }
  const std::string redirect = "http://127.0.0.1:" + std::to_string(loopback.port()) + "/";
  std::cout << "Open this page in a browser and let setlist upload to your Mixcloud account:\n  "
            << site << "/oauth/authorize?"
            << platform::formEncode({{"client_id", clientId}, {"redirect_uri", redirect}})
            << "\nwaiting for Mixcloud to send the browser back to " << redirect << "\n"
            << std::flush;
  const auto code = loopback.waitForCode();
  if (!code) return code.error();
  const auto token = exchangeCode(site, clientId, redirect, *secret, *code);
  if (!token) return token.error();
  // The account's name, which also proves that the token works.
  platform::HttpRequest me;
  me.url = api + "/me/?access_token=" + platform::urlEncode(*token);
  const auto answer = platform::sendRequest(me);
  if (!answer) return answer.error();
  const auto user = parseJson(answer->body);
  if (answer->status / 100 != 2 || !user || (*user)["username"].string().empty()) {
    return platform::makeError(
        "Mixcloud", "the new token was not taken (HTTP " + std::to_string(answer->status) + ")");
  }
  LoginResult result;
  result.account.url = api;
  result.account.user = (*user)["username"].string();
  result.account.values = {{"access_token", *token}, {"client_id", clientId}, {"auth_url", site}};
  return result;
}
