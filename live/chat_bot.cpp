#include "live/chat_bot.h"

#include <algorithm>

#include "platform/ascii.h"
#include "setfile/text.h"

namespace {

// A little more than the window between the first and the 21st message, so that a first
// message that travels slower than a later one still counts in the server's window.
constexpr std::chrono::seconds kRateMargin{1};

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
// Put before a text that Twitch would read as a command: U+266A, a quaver, and a space.
constexpr std::string_view kCommandGuard = "\xE2\x99\xAA ";

// The command a chat message asks for by its first word: "track" (for !track and !song),
// "lasttrack", or empty.
std::string commandOf(std::string_view text) {
  std::string word(text.substr(0, std::min(text.find(' '), text.size())));
  word = platform::asciiLower(word);
  if (word == "!track" || word == "!song") return "track";
  if (word == "!lasttrack") return "lasttrack";
  return "";
}

// Whether a name has the form of a Twitch login: letters, digits and '_', at most 25.
bool isLoginName(std::string_view name) {
  return !name.empty() && name.size() <= 25 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

// The name a reply mentions: the asker's display name when it is a login's (it may differ
// in case), else the login; empty when neither has that form.
std::string askerOf(const IrcMessage& message) {
  for (const std::string& name : {message.tag("display-name"), message.nick()}) {
    if (isLoginName(name)) return name;
  }
  return "";
}

}  // namespace

std::string chatText(std::string_view text) {
  std::string flat;
  flat.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF: one space
    flat += c < 0x20 || c == 0x7F ? ' ' : text[i];
  }
  flat.erase(0, flat.find_first_not_of(' '));
  if (!flat.empty() && (flat[0] == '/' || flat[0] == '.')) flat.insert(0, kCommandGuard);
  // Cut where the 500th character begins when more follow it.
  if (utf8Characters(flat) > kLongestMessage) {
    flat.replace(utf8Prefix(flat, kLongestMessage - 1), std::string::npos, kEllipsis);
  }
  return flat;
}

std::string privmsgLine(std::string_view channel, std::string_view text, std::string_view replyTo) {
  std::string line;
  if (!replyTo.empty()) line.append("@reply-parent-msg-id=").append(escapeTagValue(replyTo)) += ' ';
  line.append("PRIVMSG #").append(channel).append(" :").append(chatText(text));
  return line;
}

void ChatBot::show(const OnAirState& state) {
  const bool fresh = state.shown > state_.shown && !state.now.empty();
  state_ = state;
  if (!settings_.announce || !fresh) return;
  if (!queue_.empty() && queue_.front().command.empty()) queue_.pop_front();  // its track is over
  if (queue_.size() >= kQueueLimit) queue_.pop_front();  // the reply that waited longest
  queue_.push_front({});
}

void ChatBot::hear(const IrcMessage& message, Clock::time_point now) {
  if (message.command != "PRIVMSG" || message.param(0) != "#" + settings_.channel) return;
  const std::string command = commandOf(message.param(1));
  if (command.empty()) return;
  if (settings_.cooldownSeconds > 0) {
    const auto last = lastAnswered_.find(command);
    if (last != lastAnswered_.end() &&
        now - last->second < std::chrono::seconds(settings_.cooldownSeconds)) {
      return;
    }
  }
  lastAnswered_[command] = now;
  if (queue_.size() >= kQueueLimit) {
    // The oldest reply makes room; the announcement, first when one waits, stays.
    queue_.erase(queue_.begin() + (queue_.front().command.empty() ? 1 : 0));
  }
  queue_.push_back({command, message.tag("id"), askerOf(message)});
}

std::string ChatBot::textOf(const Waiting& waiting) const {
  if (waiting.command.empty()) return "Now playing: " + state_.now;
  std::string answer;
  if (state_.now.empty()) {
    answer = "nothing on air yet";
  } else if (waiting.command == "track") {
    answer = state_.now;
  } else {
    answer = state_.before.empty() ? "nothing before this track yet" : state_.before;
  }
  return waiting.asker.empty() ? answer : "@" + waiting.asker + " " + answer;
}

bool ChatBot::sentRecently(const std::string& text, Clock::time_point now) {
  while (!recent_.empty() && recent_.front().first + kRepeatWindow + kRateMargin <= now) {
    recent_.pop_front();
  }
  return std::any_of(recent_.begin(), recent_.end(),
                     [&](const auto& sent) { return sent.second == text; });
}

std::optional<std::string> ChatBot::next(Clock::time_point now) {
  while (!sent_.empty() && sent_.front() + kRateWindow + kRateMargin <= now) sent_.pop_front();
  while (!queue_.empty() && sent_.size() < kMessagesPerWindow) {
    const Waiting waiting = std::move(queue_.front());
    queue_.pop_front();
    std::string text = chatText(textOf(waiting));
    if (sentRecently(text, now)) continue;  // Twitch would drop it, and it is in chat already
    sent_.push_back(now);
    recent_.emplace_back(now, text);
    return privmsgLine(settings_.channel, text, waiting.replyTo);
  }
  return std::nullopt;
}
