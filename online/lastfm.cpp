// Last.fm: the desktop login (a token the user allows on Last.fm's page, then a session
// key) and the track.scrobble request. Every call is signed with the shared secret.
#include <chrono>
#include <iostream>
#include <string>

#include "online/json.h"
#include "online/online.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "platform/secret_input.h"

namespace {

// Seconds between two asks whether the user has allowed the token yet, and how long
// the user has to do so.
constexpr int kPollSeconds = 3;
constexpr int kAllowSeconds = 10 * 60;

std::string value(const Account& account, const std::string& name) {
  const auto found = account.values.find(name);
  return found == account.values.end() ? std::string() : found->second;
}

// A POST of the signed fields, form-encoded, as Last.fm takes every write call.
platform::HttpRequest signedRequest(const std::string& url, std::vector<platform::Header> fields,
                                    const std::string& secret) {
  fields.push_back({"api_sig", platform::md5Hex(lastfmSignatureBase(fields, secret))});
  fields.push_back({"format", "json"});
  platform::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"},
                     {"User-Agent", userAgent()}};
  request.body.push_back({platform::formEncode(fields), {}});
  return request;
}

// Last.fm's answer to an auth call: done when it holds `wanted`; error 14 (the user has
// not allowed the token yet) is tried again, as are its temporary errors.
template <const char* wanted>
Verdict judgeAuth(const Answer& answer) {
  Verdict verdict = judgeLastfm(answer);
  const JsonValue* json = answer.json;
  if (json != nullptr && (*json)["error"].string() == "14") {
    verdict.outcome = Outcome::kRetry;
  } else if (answer.response.status == 200 && json != nullptr && !(*json)[wanted].isNull()) {
    verdict.outcome = Outcome::kDone;
  } else if (verdict.outcome == Outcome::kDone) {
    verdict.outcome = Outcome::kRetry;  // a scrobble answer is no auth answer
  }
  return verdict;
}
constexpr char kToken[] = "token";
constexpr char kSession[] = "session";

// Asks Last.fm every few seconds whether the user allowed the token, for up to 10 minutes.
platform::Expected<JsonValue> waitForSession(const LoginRequest& login,
                                             const platform::HttpRequest& request) {
  Clock& clock = systemClock();
  const StopSignal stop;  // the process's stop (Ctrl-C)
  const TimePoint deadline = clock.after(std::chrono::seconds(kAllowSeconds));
  Backoff faults;
  while (clock.waitUntil(clock.after(std::chrono::seconds(kPollSeconds)), stop)) {
    Verdict verdict = exchange(request, judgeAuth<kSession>, clock, stop);
    if (verdict.outcome == Outcome::kDone) return std::move(verdict.json);
    if (verdict.outcome == Outcome::kLoginAgain || verdict.outcome == Outcome::kRefused) {
      return platform::makeError(login.url, "Last.fm refused the login: " + verdict.message);
    }
    // Not allowed yet is no fault; five faults of the server in a row end the wait.
    if (verdict.json["error"].string() == "14") {
      faults.succeeded();
    } else if (faults.failed(); faults.givenUp()) {
      return platform::makeError(
          login.url, verdict.message + " (tried " + std::to_string(faults.failures()) + " times)");
    }
    if (clock.now() >= deadline) {
      return platform::makeError(login.name,
                                 "the access was not allowed within 10 minutes; log in again");
    }
  }
  return platform::makeError(login.name, "stopped");
}

}  // namespace

namespace {

// The page where the user allows the access: --auth-url's, else that of the server --url
// names (a Last.fm-compatible one keeps it at its root), else Last.fm's.
std::string authorizePage(const LoginRequest& login) {
  std::string root = "https://www.last.fm";
  if (const auto given = login.options.find("--auth-url"); given != login.options.end()) {
    root = given->second;
  } else if (login.url != kLastfmApi) {
    if (const platform::Expected<platform::Url> url = platform::parseUrl(login.url)) {
      const bool bracketed = url->host.find(':') != std::string::npos;
      root = std::string(url->secure ? "https://" : "http://") + (bracketed ? "[" : "") +
             url->host + (bracketed ? "]:" : ":") + std::to_string(url->port);
    }
  }
  while (root.ends_with('/')) root.pop_back();
  return root + "/api/auth/";
}

}  // namespace

platform::Expected<LoginResult> loginLastfm(const LoginRequest& login) {
  const std::string& apiKey = login.options.at("--api-key");
  platform::reportPrompt(
      "Paste the shared secret of your Last.fm API account (on last.fm/api/accounts) and "
      "press Enter:\n");
  auto secret = platform::readSecretLine();
  if (!secret) return secret.error();
  if (secret->empty()) return platform::makeError(login.name, "no shared secret was given");

  platform::installStopHandler();
  const Verdict token = exchange(
      signedRequest(login.url, {{"method", "auth.getToken"}, {"api_key", apiKey}}, *secret),
      judgeAuth<kToken>, systemClock(), StopSignal());
  const std::string& tokenText = token.json["token"].string();
  if (token.outcome != Outcome::kDone || tokenText.empty()) {
    return platform::makeError(login.url, "Last.fm gave no token: " + token.message);
  }
  std::cout << "Open this page in a browser and allow the access:\n"
            << "  " << authorizePage(login) << "?api_key=" << platform::urlEncode(apiKey)
            << "&token=" << platform::urlEncode(tokenText) << "\n"
            << "Waiting for it (up to 10 minutes; Ctrl-C to give up)..." << std::endl;
  const auto session = waitForSession(
      login,
      signedRequest(login.url,
                    {{"method", "auth.getSession"}, {"api_key", apiKey}, {"token", tokenText}},
                    *secret));
  if (!session) return session.error();
  LoginResult result;
  result.account.user = (*session)["session"]["name"].string();
  const std::string& key = (*session)["session"]["key"].string();
  if (key.empty()) return platform::makeError(login.url, "Last.fm gave no session key");
  result.account.values = {{"api_key", apiKey}, {"secret", *secret}, {"session_key", key}};
  return result;
}

std::size_t lastfmRequest(const Account& account, std::span<const Listen> listens,
                          platform::HttpRequest* request, std::string* shown) {
  std::vector<platform::Header> fields;
  const std::size_t taken = lastfmScrobbleFields(listens, 0, value(account, "api_key"),
                                                 value(account, "session_key"), &fields);
  shown->clear();
  for (const platform::Header& field : fields) {
    if (field.name == "sk") continue;  // the session key is a secret
    *shown += field.name + "=" + field.value + "\n";
  }
  *request = signedRequest(account.url, std::move(fields), value(account, "secret"));
  return taken;
}

namespace {

// "Artist - Song: reason" for each scrobble Last.fm took but ignored. One scrobble comes
// as an object, several as an array.
std::vector<std::string> ignoredScrobbles(const JsonValue& scrobbles) {
  const JsonValue& each = scrobbles["scrobble"];
  std::vector<const JsonValue*> items;
  if (each.kind() == JsonValue::Kind::kArray) {
    for (const JsonValue& item : each.array()) items.push_back(&item);
  } else if (each.kind() == JsonValue::Kind::kObject) {
    items.push_back(&each);
  }
  std::vector<std::string> ignored;
  for (const JsonValue* item : items) {
    const JsonValue& message = (*item)["ignoredMessage"];
    const std::string& code = message["code"].string();
    if (code.empty() || code == "0") continue;
    std::string reason = message["#text"].string();
    if (reason.empty()) reason = "ignored (code " + code + ")";
    ignored.push_back((*item)["artist"]["#text"].string() + " - " +
                      (*item)["track"]["#text"].string() + ": " + reason);
  }
  return ignored;
}

// Last.fm's error codes: those that mean the session or key is no longer good, and the
// temporary ones (operation failed, offline, unavailable, rate limit). Others refuse.
Outcome lastfmErrorOutcome(int code, int status) {
  if (code == 4 || code == 9 || code == 10 || code == 13 || code == 26) return Outcome::kLoginAgain;
  if (code == 8 || code == 11 || code == 16 || code == 29 || status >= 500) return Outcome::kRetry;
  return Outcome::kRefused;
}

}  // namespace

Verdict judgeLastfm(const Answer& answer) {
  Verdict verdict;
  const JsonValue* json = answer.json;
  if (json != nullptr && !(*json)["error"].isNull()) {
    const std::string& code = (*json)["error"].string();
    verdict.outcome = lastfmErrorOutcome(std::atoi(code.c_str()), answer.response.status);
    verdict.message = "error " + code + ": " + (*json)["message"].string();
    if (code == "13") verdict.message += " (the shared secret may be wrong)";
    return verdict;
  }
  // Last.fm answers some failures with status 200: the body decides.
  if (answer.response.status == 200 && json != nullptr &&
      (*json)["scrobbles"].kind() == JsonValue::Kind::kObject) {
    verdict.outcome = Outcome::kDone;
    verdict.ignored = ignoredScrobbles((*json)["scrobbles"]);
    return verdict;
  }
  verdict.outcome = Outcome::kRetry;  // not Last.fm's answer: a server fault
  return verdict;
}
