// Discord's answers judged, and the poster that sends one message after another to a
// webhook within its rate limits.
#include <utility>

#include "online/discord.h"

namespace {

// Discord's words in an error answer: {"message": "Unknown Webhook", "code": 10015}.
std::string discordWords(const Answer& answer) {
  return answer.json != nullptr ? (*answer.json)["message"].string() : std::string();
}

}  // namespace

Verdict judgeDiscordPost(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  const bool message = answer.json != nullptr && !(*answer.json)["id"].string().empty();
  if (status / 100 == 2 && message) {
    verdict.outcome = Outcome::kDone;
  } else if (status == 401 || status == 404) {
    verdict.outcome = Outcome::kLoginAgain;
    verdict.message = discordWords(answer);
  } else if (status == 429 || status >= 500 || status / 100 == 2) {
    // A 2xx without the message is no answer of Discord's: a server fault, tried again.
    verdict.outcome = Outcome::kRetry;
  } else {
    verdict.outcome = Outcome::kRefused;
    verdict.message = discordWords(answer);
  }
  return verdict;
}

Verdict judgeDiscordWebhook(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  if (status == 200 && answer.json != nullptr && !(*answer.json)["id"].string().empty() &&
      (*answer.json)["name"].kind() == JsonValue::Kind::kString) {
    verdict.outcome = Outcome::kDone;
  } else if (status == 401 || status == 404) {
    verdict.outcome = Outcome::kLoginAgain;
    verdict.message = "Discord knows no such webhook (" + discordWords(answer) +
                      "): it was deleted, or the URL is not whole";
  } else if (status == 429 || status >= 500) {
    verdict.outcome = Outcome::kRetry;
  }
  return verdict;
}

std::string discordGone(std::string_view name) {
  return "the Discord webhook " + std::string(name) +
         " no longer exists: make a new one and run setlist login discord again";
}

DiscordPoster::DiscordPoster(DiscordTarget target, std::string username, Clock& clock,
                             BackoffPolicy policy)
    : target_(std::move(target)), username_(std::move(username)), clock_(clock), policy_(policy) {}

Verdict DiscordPoster::tryOnce(const std::string& body, const StopSignal& stop) {
  if (!clock_.waitUntil(pace_.nextAllowed(), stop)) {
    Verdict stopped;
    stopped.outcome = Outcome::kStopped;
    return stopped;
  }
  platform::HttpRequest request;
  request.method = "POST";
  request.url = target_.url + "?wait=true";
  request.headers = {{"Content-Type", "application/json"}, {"User-Agent", userAgent()}};
  request.body = {{body, ""}};
  pace_.sent(clock_.now());
  Verdict verdict = exchange(request, judgeDiscordPost, clock_, stop);
  pace_.heard(verdict, clock_.now());
  // The webhook's URL holds its token: a message names the webhook by its id instead.
  verdict.message = hideWebhookUrl(std::move(verdict.message), target_.url, target_.id);
  return verdict;
}

Verdict DiscordPoster::send(const std::string& content, const StopSignal& stop) {
  return sendBody(discordMessageBody(content, username_), stop);
}

Verdict DiscordPoster::sendBody(const std::string& body, const StopSignal& stop) {
  // A 429 is waited out by the pace, and is no failure of Discord's, a few times over.
  constexpr int kMostRateLimited = 10;
  Verdict verdict;
  for (int i = 0; i < kMostRateLimited; ++i) {
    verdict = tryOnce(body, stop);
    if (verdict.outcome != Outcome::kRetry ||
        verdict.json["retry_after"].kind() != JsonValue::Kind::kNumber)
      break;
  }
  return verdict;
}

Verdict DiscordPoster::post(const std::string& content, const StopSignal& stop) {
  Backoff backoff(policy_);
  while (true) {
    Verdict verdict = send(content, stop);
    if (verdict.outcome != Outcome::kRetry) return verdict;
    const Seconds wait = backoff.failed(verdict.wait);
    if (backoff.givenUp()) return verdict;
    if (!clock_.waitUntil(clock_.after(wait), stop)) {
      verdict.outcome = Outcome::kStopped;
      return verdict;
    }
  }
}
