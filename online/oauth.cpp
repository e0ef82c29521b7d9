#include "online/oauth.h"

#include <cstdint>
#include <random>

#include "online/accounts.h"
#include "platform/report.h"

std::string base64Url(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text;
  std::uint32_t bits = 0;
  int count = 0;  // bits waiting in `bits`
  for (const char c : bytes) {
    bits = (bits << 8) | static_cast<unsigned char>(c);
    count += 8;
    while (count >= 6) {
      count -= 6;
      text += kDigits[(bits >> count) & 0x3F];
    }
  }
  if (count > 0) text += kDigits[(bits << (6 - count)) & 0x3F];
  return text;
}

std::string pkceChallenge(std::string_view verifier) {
  return base64Url(platform::sha256(verifier));
}

Pkce newPkce() {
  static constexpr std::string_view kUnreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
  std::random_device random;
  Pkce pkce;
  for (int i = 0; i < 64; ++i) pkce.verifier += kUnreserved[random() % kUnreserved.size()];
  pkce.challenge = pkceChallenge(pkce.verifier);
  return pkce;
}

platform::HttpRequest oauthForm(const std::string& url,
                                const std::vector<platform::Header>& fields) {
  platform::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                     {"Accept", "application/json"},
                     {"User-Agent", userAgent()}};
  request.body = {{platform::formEncode(fields), ""}};
  return request;
}

std::string oauthWords(const JsonValue& json) {
  for (const char* key : {"message", "error_description", "error"}) {
    if (!json[key].string().empty()) return json[key].string();
  }
  return "";
}

namespace {

bool tokensAreText(const JsonValue& json) {
  for (const char* key : {"access_token", "refresh_token"}) {
    const JsonValue& token = json[key];
    if (token.kind() == JsonValue::Kind::kString && !isTokenText(token.string())) return false;
  }
  return true;
}

}  // namespace

Verdict judgeToken(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  const std::string words = answer.json != nullptr ? oauthWords(*answer.json) : "";
  const bool token = answer.json != nullptr && !(*answer.json)["access_token"].string().empty();
  if (status == 200 && token && !tokensAreText(*answer.json)) {
    // A token goes into chat lines as it is: one of another form is no token.
    verdict.outcome = Outcome::kRefused;
    verdict.message = "the answer holds a token with a space or a control character in it";
  } else if (status == 200 && token) {
    verdict.outcome = Outcome::kDone;
  } else if (words == "authorization_pending" || words == "slow_down") {
    verdict.outcome = Outcome::kRetry;
    verdict.message = words;
  } else if (status == 400 || status == 401) {
    verdict.outcome = Outcome::kLoginAgain;
    verdict.message = words;
  } else {
    verdict.outcome = Outcome::kRetry;  // the helper names the URL and the answer's start
  }
  return verdict;
}

Verdict waitForDeviceToken(const platform::HttpRequest& poll, Seconds interval, Seconds expiresIn,
                           Clock& clock, const StopSignal& stop) {
  const TimePoint deadline = clock.after(expiresIn);
  while (clock.waitUntil(clock.after(interval), stop)) {
    if (clock.now() >= deadline) {
      Verdict expired;
      expired.message = "the code expired before it was entered";
      return expired;
    }
    Verdict verdict = exchange(poll, judgeToken, clock, stop);
    if (verdict.outcome != Outcome::kRetry) return verdict;
    if (verdict.message == "slow_down") {
      interval += Seconds(5);
    } else if (verdict.message != "authorization_pending") {
      platform::reportWarning(verdict.message);  // tried again at the next interval
    }
  }
  Verdict stopped;
  stopped.outcome = Outcome::kStopped;
  return stopped;
}
