#include "online/twitch_auth.h"

#include "online/accounts.h"
#include "online/oauth.h"

platform::Expected<OAuthAnswer> postOAuthForm(const std::string& authUrl, const std::string& path,
                                              const std::vector<platform::Header>& fields) {
  platform::Expected<platform::HttpResponse> response =
      platform::sendRequest(oauthForm(authUrl + path, fields));
  if (!response) return response.error();
  OAuthAnswer answer;
  answer.status = response->status;
  if (platform::Expected<JsonValue> json = parseJson(response->body)) answer.json = *json;
  return answer;
}

std::string oauthReason(const OAuthAnswer& answer) {
  const std::string words = oauthWords(answer.json);
  return words.empty() ? "HTTP status " + std::to_string(answer.status) : words;
}

platform::Status storeTwitchTokens(const std::string& accountsPath, const std::string& access,
                                   const std::string& refresh, const std::string& name) {
  if (!isTokenText(access) || !isTokenText(refresh)) {
    return platform::makeError(accountsPath,
                               "Twitch sent a token with a space or a control "
                               "character in it; it is not stored");
  }
  platform::Expected<std::vector<Account>> accounts = loadAccounts(accountsPath);
  if (!accounts) return accounts.error();
  for (Account& account : *accounts) {
    if (account.name == name) {
      account.values["access_token"] = access;
      account.values["refresh_token"] = refresh;
      return saveAccounts(accountsPath, *accounts);
    }
  }
  return platform::makeError(accountsPath, "the account " + name + " is gone");
}
