// Discord channel posts through a webhook: the rules of Discord's API as plain functions
// (the webhook's URL, the message body, markdown escaping, splitting a text into messages,
// the rate limits, the verdict on an answer), and the poster that sends one message after
// another within those limits. A webhook's URL holds its secret token: it is kept in the
// accounts file and never shown; messages name the webhook by its id.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/accounts.h"
#include "online/online.h"
#include "online/request.h"
#include "platform/error.h"
#include "platform/web_client.h"

// Discord's API root, the default of the login's --url.
inline constexpr std::string_view kDiscordApi = "https://discord.com/api";
// The most characters (not bytes) a message holds.
constexpr std::size_t kDiscordMessageLength = 2000;
// Setlist's own limit, under any Discord sets: at most 5 requests in 2 s. The window is
// counted from when each request leaves, with a quarter second to spare, so that requests
// held up on their way (a busy network or server) still never arrive 5 within 2 s.
constexpr std::size_t kDiscordBurst = 5;
constexpr std::chrono::milliseconds kDiscordBurstWindow{2250};

// A webhook: its id and its token, from a URL such as
// https://discord.com/api/webhooks/ID/TOKEN (or discordapp.com, a /v10/ in the path).
struct Webhook {
  std::string id;
  std::string token;
};
// The webhook of a URL the user pasted; an error that names no token when it is not one.
platform::Expected<Webhook> parseWebhookUrl(std::string_view url);
// "{root}/webhooks/ID/TOKEN", the URL of the webhook under an API root.
std::string webhookUrl(std::string_view root, const Webhook& webhook);
// What the accounts list shows of a webhook: "webhook …/ID".
std::string webhookShown(std::string_view id);

// Text (a message naming a URL) with the webhook's URL, which holds its token, in it
// replaced by "Discord webhook …/ID".
std::string hideWebhookUrl(std::string text, std::string_view url, std::string_view id);

// setlist login discord: reads the webhook's URL from standard input, checks it with a
// GET of the webhook under the API root (--url) and returns the account to store.
platform::Expected<LoginResult> loginDiscord(const LoginRequest& request);

// The webhook of a Discord account of the accounts file, and the name it is known by there.
struct DiscordTarget {
  std::string name;  // the account's name
  std::string url;   // the webhook's URL, secret
  std::string id;    // for messages
};
// The target of the account; an error naming the accounts file when the account is no
// Discord webhook.
platform::Expected<DiscordTarget> discordTarget(const Account& account, const std::string& path);

// Text as Discord shows it as written: each character that Discord's markdown, mentions
// and links read (\ * _ ~ ` | > < # @ [ ] ( ) : - + .) escaped with a backslash, each
// control character a space.
std::string discordEscape(std::string_view text);

// The text in messages of at most `most` characters, split at line ends, in order; a line
// longer than that is cut on a character boundary. Every character but the line ends
// between two messages is kept; empty lines at a message's edges are left out.
std::vector<std::string> splitMessages(std::string_view text,
                                       std::size_t most = kDiscordMessageLength);

// The body of an execute-webhook request: content, no mention allowed to ping, no link
// preview; `username` replaces the webhook's name when not empty. With a thumbnail (an
// absolute URL of an image), an embed that shows it beside the message.
std::string discordMessageBody(std::string_view content, std::string_view username,
                               std::string_view thumbnail = {});

// When the next request to one webhook may go: never more than kDiscordBurst within
// kDiscordBurstWindow, and not before the time Discord's headers or a 429 asked for.
class DiscordPace {
 public:
  TimePoint nextAllowed() const;
  // A request went at `at`.
  void sent(TimePoint at);
  // An answer heard at `at`: X-RateLimit-Remaining 0 holds the next request for
  // X-RateLimit-Reset-After (fractional seconds); a 429's retry_after (in its JSON) too.
  void heard(const Verdict& verdict, TimePoint at);

 private:
  std::deque<TimePoint> recent_;  // the last kDiscordBurst requests
  TimePoint heldUntil_{};
};

// Fractional seconds such as "0.457" or "2", in milliseconds (at most an hour).
std::optional<std::chrono::milliseconds> fractionalSeconds(std::string_view text);

// Discord's answer to an execute-webhook request with wait=true: done with the message's
// JSON; 401 or 404, the webhook is gone (log in again); 429 and server faults try again;
// any other refusal in Discord's words.
Verdict judgeDiscordPost(const Answer& answer);
// Discord's answer to a GET of the webhook: done when it names the webhook.
Verdict judgeDiscordWebhook(const Answer& answer);

// "the Discord webhook NAME no longer exists: ...", said once when a post finds it gone.
std::string discordGone(std::string_view name);

// Sends messages to one webhook, each when the pace lets it, trying a failed one again
// after the back-off (or the wait Discord asked for).
class DiscordPoster {
 public:
  DiscordPoster(DiscordTarget target, std::string username, Clock& clock, BackoffPolicy policy);
  // Posts one message: done, gone (kLoginAgain), refused, stopped, or kRetry when the
  // back-off's tries are spent; the message says why.
  Verdict post(const std::string& content, const StopSignal& stop);
  // Posts it without the back-off: a 429 is waited out as Discord asks, a few times; any
  // other verdict comes back at once.
  Verdict send(const std::string& content, const StopSignal& stop);
  // send() of a whole request body (discordMessageBody's).
  Verdict sendBody(const std::string& body, const StopSignal& stop);
  const DiscordTarget& target() const { return target_; }

 private:
  // One try of the body within the pace; the verdict as Discord's answer gives it, the
  // token hidden.
  Verdict tryOnce(const std::string& body, const StopSignal& stop);
  DiscordTarget target_;
  std::string username_;
  Clock& clock_;
  BackoffPolicy policy_;
  DiscordPace pace_;
};
