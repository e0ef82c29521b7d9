#include "online/twitch_login.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>

#include "cli/cli.h"
#include "cli/options.h"
#include "online/accounts.h"
#include "online/commands.h"
#include "online/scrobbling.h"
#include "online/oauth.h"
#include "online/twitch_auth.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace {

constexpr const char* kScopes = "chat:read chat:edit";
constexpr const char* kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";

int fail(const std::string& message) { return failed(platform::makeError("", message)); }

// The whole seconds of a number in an answer, at least `least`.
int seconds(const JsonValue& value, int least) {
  const double number = value.number();
  if (!(number >= least)) return least;
  return number > 86400 ? 86400 : static_cast<int>(number);
}

}  // namespace

int loginTwitch(int argc, char** argv) {
  const Arguments arguments = readCommandLine("login twitch", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const std::string clientId = arguments.text("--client-id");
  const std::string name = arguments.text("--name", "twitch");
  if (!isAccountName(name)) return usageError(wrongValue("--name", name), "login twitch");
  std::string authUrl = arguments.text("--auth-url", kTwitchAuthUrl);
  while (!authUrl.empty() && authUrl.back() == '/') authUrl.pop_back();
  const std::string accountsPath = accountsFile(arguments);
  platform::Expected<std::vector<Account>> accounts = loadAccounts(accountsPath);
  if (!accounts) {
    return failed(accounts.error());
  }
  platform::installStopHandler();

  platform::Expected<OAuthAnswer> device =
      postOAuthForm(authUrl, "/oauth2/device", {{"client_id", clientId}, {"scopes", kScopes}});
  if (!device) {
    return failed(device.error());
  }
  const std::string deviceCode = device->json["device_code"].string();
  if (device->status != 200 || deviceCode.empty()) {
    return fail("Twitch gave no code to log in with: " + oauthReason(*device));
  }
  std::cout << "To let setlist chat as you on Twitch, open "
            << device->json["verification_uri"].string() << " and enter the code "
            << device->json["user_code"].string() << "\n";
  platform::reportProgress("waiting for you to allow it there...");

  const Verdict token = waitForDeviceToken(
      oauthForm(authUrl + "/oauth2/token", {{"client_id", clientId},
                                            {"scopes", kScopes},
                                            {"device_code", deviceCode},
                                            {"grant_type", kDeviceGrant}}),
      Seconds(seconds(device->json["interval"], 1)),
      Seconds(seconds(device->json["expires_in"], 1)), systemClock(), StopSignal());
  if (token.outcome == Outcome::kStopped) return kStatusStopped;
  if (token.outcome != Outcome::kDone) {
    return fail("Twitch refused the login: " + token.message + "; run setlist login twitch again");
  }
  const std::string access = token.json["access_token"].string();
  const std::string refresh = token.json["refresh_token"].string();

  platform::HttpRequest validate;
  validate.url = authUrl + "/oauth2/validate";
  validate.headers = {{"Authorization", "OAuth " + access}};
  platform::Expected<platform::HttpResponse> validated = platform::sendRequest(validate);
  if (!validated) {
    return failed(validated.error());
  }
  platform::Expected<JsonValue> who = parseJson(validated->body);
  const std::string login = who ? (*who)["login"].string() : "";
  if (validated->status != 200 || login.empty()) {
    return fail("Twitch did not say whose token it is (HTTP status " +
                std::to_string(validated->status) + ")");
  }
  if (!isTwitchLogin(login)) {
    return fail(
        "Twitch named the token's user in a form that is not a Twitch login (letters, "
        "digits, _); nothing was stored");
  }

  // Read again: the file may have changed while the user was at the browser.
  accounts = loadAccounts(accountsPath);
  if (!accounts) {
    return failed(accounts.error());
  }
  Account account{name,
                  "twitch",
                  authUrl,
                  login,
                  {{"client_id", clientId},
                   {"access_token", access},
                   {"refresh_token", refresh},
                   {"auth_url", authUrl}}};
  auto old = std::find_if(accounts->begin(), accounts->end(),
                          [&](const Account& a) { return a.name == name; });
  if (old != accounts->end()) {
    *old = std::move(account);
  } else {
    accounts->push_back(std::move(account));
  }
  if (const platform::Status saved = saveAccounts(accountsPath, *accounts); !saved) {
    return failed(saved.error());
  }
  platform::reportProgress("logged in to Twitch as " + login + "; the chat account is kept in " +
                           accountsPath);
  return kStatusOk;
}
