// setlist login kick: OAuth 2.1's code flow with PKCE (S256) and state. The user opens
// Kick's authorize page; Kick sends the browser back to the loopback listener at the
// redirect URL entered in the app's settings, http://localhost:PORT/callback; the code is
// exchanged for a token pair with the verifier, kept in the accounts file and nowhere else.
// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <charconv>
#include <chrono>
#include <iostream>

#include "online/kick.h"
#include "online/loopback.h"
#include "online/oauth.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "platform/secret_input.h"

namespace {

// How long the listener waits for the browser to come back.
constexpr auto kLoginWait = std::chrono::minutes(10);

std::string optionOf(const LoginRequest& login, const std::string& name,
                     std::string_view otherwise) {
  const auto given = login.options.find(name);
  return given == login.options.end() ? std::string(otherwise) : given->second;
}

std::string withoutSlash(std::string url) {
  while (url.ends_with('/')) url.pop_back();
  return url;
}

// Shows the authorize page and waits for the browser to bring the code back.
platform::Expected<std::string> authorizationCode(Loopback& loopback, const std::string& authUrl,
                                                  const std::string& clientId,
                                                  const std::string& redirect, const Pkce& pkce) {
  const std::string state = Loopback::newState();
  std::cout << "Open this page in a browser and let setlist write to your Kick chat:\n  " << authUrl
            << "/oauth/authorize?"
            << platform::formEncode({{"response_type", "code"},
                                     {"client_id", clientId},
                                     {"redirect_uri", redirect},
                                     {"scope", std::string(kKickScopes)},
                                     {"code_challenge", pkce.challenge},
                                     {"code_challenge_method", "S256"},
                                     {"state", state}})
            << "\nwaiting for Kick to send the browser back to " << redirect << "\n"
            << std::flush;
  platform::installStopHandler();
  return loopback.waitForCode("Kick", state, kLoginWait, StopSignal());
}

// One request of the login on the request helper: the answer's JSON, or why not.
platform::Expected<JsonValue> loginAnswer(const platform::HttpRequest& request, Judge judge,
                                          const std::string& failure) {
  Verdict verdict = exchange(request, judge, systemClock(), StopSignal());
  if (verdict.outcome == Outcome::kDone) return std::move(verdict.json);
  return platform::makeError(platform::urlSubject(request.url), failure + ": " + verdict.message);
}

platform::HttpRequest userRequest(const std::string& api, const std::string& access) {
  platform::HttpRequest request;
  request.url = api + "/public/v1/users";
  request.headers = {{"Authorization", "Bearer " + access},
                     {"Accept", "application/json"},
                     {"User-Agent", userAgent()}};
  return request;
}

}  // namespace

platform::Expected<LoginResult> loginKick(const LoginRequest& login) {
  const std::string clientId = login.options.at("--client-id");
  const std::string api = withoutSlash(login.url);
  const std::string authUrl = withoutSlash(optionOf(login, "--auth-url", kKickAuthUrl));
  const std::string port = optionOf(login, "--port", std::to_string(kKickPort));
  platform::reportPrompt("Kick client secret: ");
  const auto secret = platform::readSecretLine();
  if (!secret) return secret.error();
  if (secret->empty()) return platform::makeError(login.name, "no client secret was given");
  Loopback loopback;
  unsigned short number = 0;
  std::from_chars(port.data(), port.data() + port.size(), number);  // checked by the table
  if (platform::Status listening = loopback.listen(number); !listening) return listening.error();
  const std::string redirect = "http://localhost:" + port + "/callback";
  const Pkce pkce = newPkce();
  const auto code = authorizationCode(loopback, authUrl, clientId, redirect, pkce);
  if (!code) return code.error();
  const auto tokens =
      loginAnswer(oauthForm(authUrl + "/oauth/token", {{"grant_type", "authorization_code"},
                                                       {"client_id", clientId},
                                                       {"client_secret", *secret},
                                                       {"redirect_uri", redirect},
                                                       {"code_verifier", pkce.verifier},
                                                       {"code", *code}}),
                  judgeToken, "the code was not exchanged for a token");
  if (!tokens) return tokens.error();
  const std::string access = (*tokens)["access_token"].string();
  const auto user =
      loginAnswer(userRequest(api, access), judgeKickUser, "the account's name was not given");
  if (!user) return user.error();
  LoginResult result;
  result.account.url = api;
  result.account.user = (*user)["data"].array().front()["name"].string();
  result.account.values = {{"access_token", access},
                           {"refresh_token", (*tokens)["refresh_token"].string()},
                           {"client_id", clientId},
                           {"client_secret", *secret},
                           {"auth_url", authUrl}};
  return result;
}
