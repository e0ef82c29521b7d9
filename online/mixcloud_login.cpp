// setlist login mixcloud: the OAuth code flow with a loopback redirect. The user opens
// Mixcloud's authorize page; Mixcloud sends the browser back to a one-shot listener on
// 127.0.0.1 with ?code=...; the code is exchanged for an access token, which is kept in
// the accounts file and nowhere else.
// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "online/accounts.h"
#include "online/json.h"
#include "online/loopback.h"
#include "online/mixcloud.h"
#include "online/online.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "platform/secret_input.h"
#include "platform/web_client.h"

namespace {

// How long the listener waits for the browser to come back.
constexpr auto kLoginWait = std::chrono::minutes(10);

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

  platform::reportPrompt("Mixcloud client secret: ");
  const auto secret = platform::readSecretLine();
  if (!secret) return secret.error();
  if (secret->empty()) return platform::makeError(login.name, "no client secret was given");
  Loopback loopback;
  if (platform::Status listening = loopback.listen(static_cast<unsigned short>(port)); !listening) {
    return listening.error();
  }
  const std::string redirect = "http://127.0.0.1:" + std::to_string(loopback.port()) + "/";
  const std::string state = Loopback::newState();
  std::cout << "Open this page in a browser and let setlist upload to your Mixcloud account:\n  "
            << site << "/oauth/authorize?"
            << platform::formEncode(
                   {{"client_id", clientId}, {"redirect_uri", redirect}, {"state", state}})
            << "\nwaiting for Mixcloud to send the browser back to " << redirect << "\n"
            << std::flush;
  platform::installStopHandler();
  const auto code = loopback.waitForCode("Mixcloud", state, kLoginWait, StopSignal());
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
