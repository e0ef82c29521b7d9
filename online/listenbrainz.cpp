// ListenBrainz, and the servers that speak its API (Maloja, Koito, multi-scrobbler): the
// token check of `login` and the submit-listens request.
#include <string>

#include "online/json.h"
#include "online/online.h"
#include "platform/report.h"
#include "platform/secret_input.h"

#ifndef ZV_VERSION
#define ZV_VERSION "unknown"
#endif

namespace {

// The API root without a trailing '/', so that routes are appended as "/1/...".
std::string apiRoot(std::string url) {
  while (url.ends_with('/')) url.pop_back();
  return url;
}

// validate-token's answer: done when ListenBrainz tells whether the token is valid (or has
// no such route: 404, the token is then stored unchecked); refused on a 401.
Verdict judgeValidate(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  const JsonValue* json = answer.json;
  if ((status == 200 && json != nullptr && (*json)["valid"].kind() == JsonValue::Kind::kBool) ||
      status == 404) {
    verdict.outcome = Outcome::kDone;
  } else if (status == 401) {
    verdict.outcome = Outcome::kRefused;
  } else {
    verdict.outcome = Outcome::kRetry;  // not its answer: the helper names the URL
  }
  if (json != nullptr && verdict.outcome != Outcome::kRetry) {
    verdict.message = (*json)["message"].string();
    if (verdict.message.empty()) verdict.message = (*json)["error"].string();
  }
  return verdict;
}

}  // namespace

platform::Expected<LoginResult> loginListenBrainz(const LoginRequest& login) {
  platform::reportPrompt(
      "Paste the user token of your ListenBrainz account (on listenbrainz.org: Settings, User "
      "token) and press Enter:\n");
  auto token = platform::readSecretLine();
  if (!token) return token.error();
  if (token->empty()) return platform::makeError(login.name, "no token was given");

  platform::HttpRequest request;
  request.url = apiRoot(login.url) + "/1/validate-token";
  request.headers = {{"Authorization", "Token " + *token}, {"User-Agent", userAgent()}};
  const Verdict verdict = exchange(request, judgeValidate, systemClock(), StopSignal());
  const bool checked = verdict.json["valid"].kind() == JsonValue::Kind::kBool;
  if (verdict.outcome == Outcome::kDone && (!checked || verdict.json["valid"].boolean())) {
    LoginResult result;
    result.account.values["token"] = *token;
    result.account.user = verdict.json["user_name"].string();
    if (!checked)
      result.note = login.url + " has no /1/validate-token: the token is stored unchecked";
    return result;
  }
  if (verdict.outcome == Outcome::kRetry || verdict.outcome == Outcome::kStopped) {
    return platform::makeError(login.url,
                               "cannot check the token: " + verdict.message + "; nothing stored");
  }
  const std::string why = verdict.message.empty() ? "not valid" : verdict.message;
  return platform::makeError(login.url, "the token was refused (" + why + "); nothing stored");
}

std::size_t listenBrainzRequest(const Account& account, std::span<const Listen> listens,
                                platform::HttpRequest* request, std::string* shown) {
  std::string body;
  const std::size_t taken = listenBrainzBody(listens, 0, ZV_VERSION, &body);
  const auto token = account.values.find("token");
  *request = platform::HttpRequest{};
  request->method = "POST";
  request->url = apiRoot(account.url) + "/1/submit-listens";
  request->headers = {
      {"Authorization", "Token " + (token == account.values.end() ? "" : token->second)},
      {"Content-Type", "application/json"},
      {"User-Agent", userAgent()}};
  *shown = body;
  request->body.push_back({std::move(body), {}});
  return taken;
}

Verdict judgeListenBrainz(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  const JsonValue* json = answer.json;
  // Only ListenBrainz's own answer accepts: a proxy's page or a cut answer is no listen.
  if (status == 200 && json != nullptr && (*json)["status"].string() == "ok") {
    verdict.outcome = Outcome::kDone;
    return verdict;
  }
  const std::string words = json != nullptr ? (*json)["error"].string() : "";
  verdict.outcome = Outcome::kRetry;  // anything not its own is a server fault
  if (status == 401) {
    verdict.outcome = Outcome::kLoginAgain;
  } else if (status == 429) {
    verdict.wait = Seconds(10);
  } else if (status >= 400 && status < 500 && !words.empty()) {
    verdict.outcome = Outcome::kRefused;
  }
  if (!words.empty()) verdict.message = words;
  return verdict;
}
