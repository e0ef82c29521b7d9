// setlist login mixcloud: the OAuth code flow with a loopback redirect. The user opens
// Mixcloud's authorize page; Mixcloud sends the browser back to a one-shot listener on
// 127.0.0.1 with ?code=...; the code is exchanged for an access token, which is kept in
// the accounts file and nowhere else.
// Boost 1.74's Asio uses std::exchange without including <utility> itself under C++20.
// clang-format off
#include <utility>
// clang-format on

#include <charconv>
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
#include "online/request.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "platform/secret_input.h"
#include "platform/web_client.h"

namespace {

// How long the listener waits for the browser to come back.
constexpr auto kLoginWait = std::chrono::minutes(10);

// Mixcloud's answer to the token exchange or to /me/: done when it names `wanted`, else
// refused in Mixcloud's words (the helper names the URL and the answer's start when it
// has none).
template <const char* wanted>
Verdict judgeLoginAnswer(const Answer& answer) {
  Verdict verdict;
  if (answer.response.status / 100 == 2 && answer.json != nullptr &&
      !(*answer.json)[wanted].string().empty()) {
    verdict.outcome = Outcome::kDone;
  } else if (answer.json != nullptr) {
    verdict.message = mixcloudWords(*answer.json);
  }
  return verdict;
}
constexpr char kAccessToken[] = "access_token";
constexpr char kUsername[] = "username";

// Where Mixcloud's site and API are: one root given with --url stands for both.
struct MixcloudRoots {
  std::string site;
  std::string api;
};
MixcloudRoots rootsOf(std::string url) {
  while (url.ends_with('/')) url.pop_back();
  return {url == kMixcloudApi ? kMixcloudSite : url, url};
}

// The port --port asks for; 0 (any free port) when none. The option table checked it.
unsigned short portOf(const LoginRequest& login) {
  const auto given = login.options.find("--port");
  if (given == login.options.end()) return 0;
  unsigned short port = 0;
  std::from_chars(given->second.data(), given->second.data() + given->second.size(), port);
  return port;
}

// Shows the authorize page and waits for the browser to bring the code back.
platform::Expected<std::string> authorizationCode(Loopback& loopback, const std::string& site,
                                                  const std::string& clientId,
                                                  const std::string& redirect) {
  const std::string state = Loopback::newState();
  std::cout << "Open this page in a browser and let setlist upload to your Mixcloud account:\n  "
            << site << "/oauth/authorize?"
            << platform::formEncode(
                   {{"client_id", clientId}, {"redirect_uri", redirect}, {"state", state}})
            << "\nwaiting for Mixcloud to send the browser back to " << redirect << "\n"
            << std::flush;
  platform::installStopHandler();
  return loopback.waitForCode("Mixcloud", state, kLoginWait, StopSignal());
}

// One GET of the login on the request helper: the answer's JSON, or why not.
platform::Expected<JsonValue> getLoginAnswer(const std::string& url, Judge judge,
                                             const std::string& failure) {
  platform::HttpRequest request;
  request.url = url;
  request.headers = {{"User-Agent", userAgent()}};
  Verdict verdict = exchange(request, judge, systemClock(), StopSignal());
  if (verdict.outcome == Outcome::kDone) return std::move(verdict.json);
  return platform::makeError(platform::urlSubject(url), failure + ": " + verdict.message);
}

}  // namespace

platform::Expected<LoginResult> loginMixcloud(const LoginRequest& login) {
  const std::string& clientId = login.options.at("--client-id");
  const MixcloudRoots roots = rootsOf(login.url);
  platform::reportPrompt("Mixcloud client secret: ");
  const auto secret = platform::readSecretLine();
  if (!secret) return secret.error();
  if (secret->empty()) return platform::makeError(login.name, "no client secret was given");
  Loopback loopback;
  if (platform::Status listening = loopback.listen(portOf(login)); !listening) {
    return listening.error();
  }
  const std::string redirect = "http://127.0.0.1:" + std::to_string(loopback.port()) + "/";
  const auto code = authorizationCode(loopback, roots.site, clientId, redirect);
  if (!code) return code.error();
  const auto token =
      getLoginAnswer(roots.site + "/oauth/access_token?" +
                         platform::formEncode({{"client_id", clientId},
                                               {"redirect_uri", redirect},
                                               {"client_secret", *secret},
                                               {"code", *code}}),
                     judgeLoginAnswer<kAccessToken>, "the code was not exchanged for a token");
  if (!token) return token.error();
  const std::string& access = (*token)["access_token"].string();
  // The account's name, which also proves that the token works.
  const auto user = getLoginAnswer(roots.api + "/me/?access_token=" + platform::urlEncode(access),
                                   judgeLoginAnswer<kUsername>, "the new token was not taken");
  if (!user) return user.error();
  LoginResult result;
  result.account.url = roots.api;
  result.account.user = (*user)["username"].string();
  result.account.values = {
      {"access_token", access}, {"client_id", clientId}, {"auth_url", roots.site}};
  return result;
}
