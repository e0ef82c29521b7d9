#include "online/discord.h"

#include <algorithm>
#include <charconv>

#include "platform/ascii.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

namespace {

bool isWebhookId(std::string_view id) {
  return !id.empty() && id.size() <= 24 &&
         std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A token stands in the URL's path as it is: letters, digits, '-', '_' and '.'.
bool isWebhookToken(std::string_view token) {
  return !token.empty() && token.size() <= 200 &&
         std::all_of(token.begin(), token.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_' || c == '.';
         });
}

}  // namespace

platform::Expected<Webhook> parseWebhookUrl(std::string_view url) {
  const auto notOne = [] {
    return platform::makeError("the webhook URL",
                               "is not one of a Discord webhook, "
                               "https://discord.com/api/webhooks/ID/TOKEN: copy it again from the "
                               "channel's settings, Integrations, Webhooks");
  };
  constexpr std::string_view kBlank = " \t\r\n";
  while (!url.empty() && (kBlank.find(url.back()) != std::string_view::npos || url.back() == '/'))
    url.remove_suffix(1);
  while (!url.empty() && kBlank.find(url.front()) != std::string_view::npos) url.remove_prefix(1);
  const auto parsed = platform::parseUrl(url);
  if (!parsed || parsed->webSocket) return notOne();
  std::string_view path = parsed->target;
  path = path.substr(0, path.find('?'));
  const std::size_t at = path.find("/webhooks/");
  if (at == std::string_view::npos) return notOne();
  path.remove_prefix(at + 10);
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos) return notOne();
  Webhook webhook{std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
  if (!isWebhookId(webhook.id) || !isWebhookToken(webhook.token)) return notOne();
  return webhook;
}

std::string webhookUrl(std::string_view root, const Webhook& webhook) {
  while (root.ends_with('/')) root.remove_suffix(1);
  return std::string(root) + "/webhooks/" + webhook.id + "/" + webhook.token;
}

std::string webhookShown(std::string_view id) { return "webhook \xE2\x80\xA6/" + std::string(id); }

std::string hideWebhookUrl(std::string text, std::string_view url, std::string_view id) {
  const std::string shown = "Discord " + webhookShown(id);
  for (std::size_t at = text.find(url); !url.empty() && at != std::string::npos;
       at = text.find(url, at + shown.size())) {
    text.replace(at, url.size(), shown);
  }
  return text;
}

platform::Expected<DiscordTarget> discordTarget(const Account& account, const std::string& path) {
  const auto value = [&](const char* key) {
    const auto found = account.values.find(key);
    return found == account.values.end() ? std::string() : found->second;
  };
  const Webhook webhook{value("webhook_id"), value("webhook_token")};
  if (account.service != "discord") {
    return platform::makeError(path, "the account '" + account.name + "' is for " +
                                         account.service + ", not a Discord webhook");
  }
  if (!isWebhookId(webhook.id) || !isWebhookToken(webhook.token) ||
      !platform::parseUrl(account.url)) {
    return platform::makeError(path, "the Discord account '" + account.name +
                                         "' holds no webhook of Discord's form: run setlist "
                                         "login discord --name " +
                                         account.name + " again");
  }
  return DiscordTarget{account.name, webhookUrl(account.url, webhook), webhook.id};
}

std::string discordEscape(std::string_view text) {
  static constexpr std::string_view kMarked = "\\*_~`|><#@[]():-+.";
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 4);
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t control = controlAt(text, i); control > 0) {
      escaped += ' ';
      i += control;
      continue;
    }
    if (kMarked.find(text[i]) != std::string_view::npos) escaped += '\\';
    escaped += text[i++];
  }
  return escaped;
}

namespace {

// Adds a line to the messages: to the last one when it fits, else to new ones.
void addLine(std::string_view line, std::size_t most, std::vector<std::string>* messages,
             std::size_t* lastLength) {
  const std::size_t length = utf8Characters(line);
  // An empty line at a message's edge is left out.
  if (length == 0 && (messages->empty() || *lastLength + 1 > most)) return;
  if (!messages->empty() && *lastLength + 1 + length <= most) {
    messages->back() += '\n';
    messages->back() += line;
    *lastLength += 1 + length;
    return;
  }
  while (utf8Characters(line) > most) {  // a line too long alone: cut where a character ends
    const std::size_t cut = utf8Prefix(line, most);
    messages->emplace_back(line.substr(0, cut));
    line.remove_prefix(cut);
  }
  messages->emplace_back(line);
  *lastLength = utf8Characters(line);
}

}  // namespace

std::vector<std::string> splitMessages(std::string_view text, std::size_t most) {
  std::vector<std::string> messages;
  std::size_t lastLength = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    addLine(line, most, &messages, &lastLength);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  // A message that ends in empty lines ends without them.
  for (std::string& message : messages) {
    while (message.ends_with('\n')) message.pop_back();
  }
  std::erase_if(messages, [](const std::string& message) { return message.empty(); });
  return messages;
}

std::string discordMessageBody(std::string_view content, std::string_view username,
                               std::string_view thumbnail) {
  std::string body;
  JsonWriter json(&body);
  json.beginObject();
  json.name("content");
  json.string(content);
  if (!username.empty()) {
    json.name("username");
    json.string(username);
  }
  json.name("allowed_mentions");
  json.beginObject();
  json.name("parse");
  json.beginArray();
  json.endArray();
  json.endObject();
  if (thumbnail.empty()) {
    json.name("flags");
    json.number(4);  // SUPPRESS_EMBEDS: a link in a title shows no preview
  } else {
    // The flag would hide this embed too; the titles' links are escaped already.
    json.name("embeds");
    json.beginArray();
    json.beginObject();
    json.name("thumbnail");
    json.beginObject();
    json.name("url");
    json.string(thumbnail);
    json.endObject();
    json.endObject();
    json.endArray();
  }
  json.endObject();
  return body;
}

std::optional<std::chrono::milliseconds> fractionalSeconds(std::string_view text) {
  double seconds = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, seconds);
  if (text.empty() || ec != std::errc() || ptr != end || !(seconds >= 0)) return std::nullopt;
  return std::chrono::milliseconds(
      static_cast<std::int64_t>(std::min(seconds, 3600.0) * 1000.0 + 0.999));
}

TimePoint DiscordPace::nextAllowed() const {
  TimePoint next = heldUntil_;
  if (recent_.size() >= kDiscordBurst) next = std::max(next, recent_.front() + kDiscordBurstWindow);
  return next;
}

void DiscordPace::sent(TimePoint at) {
  recent_.push_back(at);
  while (recent_.size() > kDiscordBurst) recent_.pop_front();
}

void DiscordPace::heard(const Verdict& verdict, TimePoint at) {
  std::string remaining, resetAfter;
  for (const platform::Header& header : verdict.headers) {
    if (platform::equalsIgnoringCase(header.name, "X-RateLimit-Remaining"))
      remaining = header.value;
    if (platform::equalsIgnoringCase(header.name, "X-RateLimit-Reset-After"))
      resetAfter = header.value;
  }
  std::optional<std::chrono::milliseconds> hold;
  if (remaining == "0") hold = fractionalSeconds(resetAfter);
  const JsonValue& retryAfter = verdict.json["retry_after"];
  if (retryAfter.kind() == JsonValue::Kind::kNumber) {
    const auto told = fractionalSeconds(retryAfter.string());
    if (told && (!hold || *told > *hold)) hold = told;
  }
  if (hold) heldUntil_ = std::max(heldUntil_, at + *hold);
}
