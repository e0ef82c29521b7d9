#include "online/twitch_login.h"

#include <iostream>
#include <string>

#include "online/accounts.h"
#include "online/oauth.h"
#include "online/twitch_auth.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace {

constexpr const char* kScopes = "chat:read chat:edit";
constexpr const char* kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";

// The whole seconds of a number in an answer, at least `least`.
Seconds seconds(const JsonValue& value, int least) {
  const double number = value.number();
  if (!(number >= least)) return Seconds(least);
  return Seconds(number > 86400 ? 86400 : static_cast<int>(number));
}

// Asks for a device code, shows the user where to enter it and waits until it is allowed.
// The token answer's JSON.
platform::Expected<JsonValue> deviceToken(const std::string& authUrl, const std::string& clientId) {
  platform::Expected<OAuthAnswer> device =
      postOAuthForm(authUrl, "/oauth2/device", {{"client_id", clientId}, {"scopes", kScopes}});
  if (!device) return device.error();
  const std::string deviceCode = device->json["device_code"].string();
  if (device->status != 200 || deviceCode.empty()) {
    return platform::makeError(authUrl,
                               "Twitch gave no code to log in with: " + oauthReason(*device));
  }
  std::cout << "To let setlist chat as you on Twitch, open "
            << device->json["verification_uri"].string() << " and enter the code "
            << device->json["user_code"].string() << "\n";
  platform::reportProgress("waiting for you to allow it there...");
  platform::installStopHandler();
  Verdict token =
      waitForDeviceToken(oauthForm(authUrl + "/oauth2/token", {{"client_id", clientId},
                                                               {"scopes", kScopes},
                                                               {"device_code", deviceCode},
                                                               {"grant_type", kDeviceGrant}}),
                         seconds(device->json["interval"], 1),
                         seconds(device->json["expires_in"], 1), systemClock(), StopSignal());
  if (token.outcome != Outcome::kDone) {
    return platform::makeError(
        authUrl, "Twitch refused the login: " + token.message + "; run setlist login twitch again");
  }
  return std::move(token.json);
}

// The login of the token's user, which also proves that the token works.
platform::Expected<std::string> tokenUser(const std::string& authUrl, const std::string& access) {
  platform::HttpRequest validate;
  validate.url = authUrl + "/oauth2/validate";
  validate.headers = {{"Authorization", "OAuth " + access}, {"User-Agent", userAgent()}};
  const Verdict who = exchange(
      validate,
      [](const Answer& answer) {
        Verdict verdict;
        const bool named = answer.json != nullptr && !(*answer.json)["login"].string().empty();
        verdict.outcome =
            answer.response.status == 200 && named ? Outcome::kDone : Outcome::kRefused;
        return verdict;
      },
      systemClock(), StopSignal());
  if (who.outcome != Outcome::kDone) {
    return platform::makeError(authUrl, "Twitch did not say whose token it is: " + who.message);
  }
  const std::string& login = who.json["login"].string();
  if (!isTwitchLogin(login)) {
    return platform::makeError(
        authUrl,
        "Twitch named the token's user in a form that is not a Twitch login (letters, "
        "digits, _); nothing was stored");
  }
  return login;
}

}  // namespace

platform::Expected<LoginResult> loginTwitch(const LoginRequest& login) {
  const std::string& clientId = login.options.at("--client-id");
  std::string authUrl = login.url;
  while (authUrl.ends_with('/')) authUrl.pop_back();
  const platform::Expected<JsonValue> token = deviceToken(authUrl, clientId);
  if (!token) return token.error();
  const std::string& access = (*token)["access_token"].string();
  const std::string& refresh = (*token)["refresh_token"].string();
  // A token goes into chat lines as it is: one that could end a line is no token.
  if (!isTokenText(access) || !isTokenText(refresh)) {
    return platform::makeError(authUrl,
                               "Twitch sent a token with a space or a control character in it; "
                               "nothing was stored");
  }
  const platform::Expected<std::string> user = tokenUser(authUrl, access);
  if (!user) return user.error();
  LoginResult result;
  result.account.url = authUrl;
  result.account.user = *user;
  result.account.values = {{"client_id", clientId},
                           {"access_token", access},
                           {"refresh_token", refresh},
                           {"auth_url", authUrl}};
  return result;
}
