// setlist login discord: a webhook's URL, read from standard input as a secret, checked
// with a GET of the webhook (Discord answers with its name) and kept in the accounts file.
#include <string>

#include "online/discord.h"
#include "platform/report.h"
#include "platform/secret_input.h"

platform::Expected<LoginResult> loginDiscord(const LoginRequest& login) {
  platform::reportPrompt("Discord webhook URL (the channel's settings, Integrations, Webhooks): ");
  const auto pasted = platform::readSecretLine();
  if (!pasted) return pasted.error();
  if (pasted->empty()) return platform::makeError(login.name, "no webhook URL was given");
  const auto webhook = parseWebhookUrl(*pasted);
  if (!webhook) return webhook.error();
  std::string root = login.url;
  while (root.ends_with('/')) root.pop_back();
  platform::HttpRequest request;
  request.url = webhookUrl(root, *webhook);
  request.headers = {{"User-Agent", userAgent()}, {"Accept", "application/json"}};
  const Verdict verdict = exchange(request, judgeDiscordWebhook, systemClock(), StopSignal());
  if (verdict.outcome != Outcome::kDone) {
    return platform::makeError(
        "Discord " + webhookShown(webhook->id),
        "the webhook was not taken: " + hideWebhookUrl(verdict.message, request.url, webhook->id));
  }
  LoginResult result;
  result.account.url = root;
  result.account.user = verdict.json["name"].string();
  result.account.values = {{"webhook_id", webhook->id}, {"webhook_token", webhook->token}};
  return result;
}
