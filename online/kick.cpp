#include "online/kick.h"

#include "online/oauth.h"
#include "online/twitch_auth.h"
#include "platform/report.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

std::string kickText(std::string_view text) {
  std::string message;
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t control = controlAt(text, i); control > 0) {
      message += ' ';
      i += control;
    } else {
      message += text[i++];
    }
  }
  if (utf8Characters(message) > kKickMessageLength) {
    message.resize(utf8Prefix(message, kKickMessageLength - 1));
    message += "\xE2\x80\xA6";  // …
  }
  return message;
}

std::string kickChatBody(std::string_view content) {
  std::string body;
  JsonWriter json(&body);
  json.beginObject();
  json.name("type");
  json.string("bot");
  json.name("content");
  json.string(content);
  json.endObject();
  return body;
}

namespace {

std::string kickWords(const Answer& answer) {
  return answer.json != nullptr ? oauthWords(*answer.json) : std::string();
}

}  // namespace

Verdict judgeKickChat(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  if (status == 200 && answer.json != nullptr && (*answer.json)["data"]["is_sent"].boolean()) {
    verdict.outcome = Outcome::kDone;
  } else if (status == 401) {
    verdict.outcome = Outcome::kLoginAgain;
    verdict.message = kickWords(answer);
  } else if (status == 429 || status >= 500 || status / 100 == 2) {
    verdict.outcome = Outcome::kRetry;  // a 2xx that is not Kick's answer: a server fault
  } else {
    verdict.message = kickWords(answer);
  }
  return verdict;
}

Verdict judgeKickUser(const Answer& answer) {
  Verdict verdict;
  const JsonValue* json = answer.json;
  if (answer.response.status == 200 && json != nullptr && !(*json)["data"].array().empty() &&
      !(*json)["data"].array().front()["name"].string().empty()) {
    verdict.outcome = Outcome::kDone;
  } else if (answer.response.status == 401 || answer.response.status == 403) {
    verdict.message = "the new token was not taken: " + kickWords(answer);
  }
  return verdict;
}

KickChat::KickChat(Account account, std::string accountsPath, Clock& clock)
    : account_(std::move(account)), accountsPath_(std::move(accountsPath)), clock_(clock) {}

std::string KickChat::value(const char* key) const {
  const auto found = account_.values.find(key);
  return found == account_.values.end() ? std::string() : found->second;
}

Verdict KickChat::post(const std::string& text, const StopSignal& stop) {
  platform::HttpRequest request;
  request.method = "POST";
  request.url = account_.url + "/public/v1/chat";
  request.headers = {{"Authorization", "Bearer " + value("access_token")},
                     {"Content-Type", "application/json"},
                     {"Accept", "application/json"},
                     {"User-Agent", userAgent()}};
  request.body = {{kickChatBody(kickText(text)), ""}};
  return exchange(request, judgeKickChat, clock_, stop);
}

Verdict KickChat::refresh(const StopSignal& stop) {
  Verdict verdict = exchange(
      oauthForm(value("auth_url") + "/oauth/token", {{"grant_type", "refresh_token"},
                                                     {"client_id", value("client_id")},
                                                     {"client_secret", value("client_secret")},
                                                     {"refresh_token", value("refresh_token")}}),
      judgeToken, clock_, stop);
  if (verdict.outcome != Outcome::kDone) return verdict;
  // Kick rotates the refresh token: the new one is the only one that works from now on.
  account_.values["access_token"] = verdict.json["access_token"].string();
  if (const std::string& renewal = verdict.json["refresh_token"].string(); !renewal.empty())
    account_.values["refresh_token"] = renewal;
  if (const platform::Status stored = storeTwitchTokens(accountsPath_, value("access_token"),
                                                        value("refresh_token"), account_.name);
      !stored) {
    platform::reportWarning(
        platform::makeError(stored.error().subject,
                            "the new Kick token is used but not stored: " + stored.error().text));
  }
  return verdict;
}

Verdict KickChat::send(const std::string& text, const StopSignal& stop) {
  Verdict verdict = post(text, stop);
  if (verdict.outcome != Outcome::kLoginAgain) return verdict;
  const Verdict renewed = refresh(stop);
  if (renewed.outcome != Outcome::kDone) return renewed;  // the refresh token refused: log in
  return post(text, stop);
}
