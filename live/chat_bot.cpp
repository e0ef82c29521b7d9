#include "live/chat_bot.h"

#include <algorithm>

#include "platform/ascii.h"
#include "setfile/text.h"

namespace {

// A little more than the window between the first and the 21st message, so that a first
// message that travels slower than a later one still counts in the server's window.
constexpr std::chrono::seconds kRateMargin{1};

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

// The command a chat message asks for by its first word: "track" (for !track and !song),
// "lasttrack", or empty.
std::string commandOf(std::string_view text) {
  std::string word(text.substr(0, std::min(text.find(' '), text.size())));
  word = platform::asciiLower(word);
  if (word == "!track" || word == "!song") return "track";
  if (word == "!lasttrack") return "lasttrack";
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
  if (settings_.announce && state.shown > state_.shown && !state.now.empty()) {
    enqueue({privmsgLine(settings_.channel, "Now playing: " + state.now, ""), true});
  }
  state_ = state;
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
  std::string answer;
  if (state_.now.empty()) {
    answer = "nothing on air yet";
  } else if (command == "track") {
    answer = state_.now;
  } else {
    answer = state_.before.empty() ? "nothing before this track yet" : state_.before;
  }
  enqueue({privmsgLine(settings_.channel, answer, message.tag("id")), false});
}

void ChatBot::enqueue(Waiting waiting) {
  if (queue_.size() >= kQueueLimit) {
    const auto announcement =
        std::find_if(queue_.begin(), queue_.end(), [](const Waiting& w) { return w.announcement; });
    if (announcement == queue_.end()) return;  // only replies wait: the new line is dropped
    queue_.erase(announcement);
  }
  queue_.push_back(std::move(waiting));
}

std::optional<std::string> ChatBot::next(Clock::time_point now) {
  while (!sent_.empty() && sent_.front() + kRateWindow + kRateMargin <= now) sent_.pop_front();
  if (queue_.empty() || sent_.size() >= kMessagesPerWindow) return std::nullopt;
  sent_.push_back(now);
  std::string line = std::move(queue_.front().line);
  queue_.pop_front();
  return line;
}

std::optional<ChatBot::Clock::time_point> ChatBot::nextTime() const {
  if (queue_.empty()) return std::nullopt;
  if (sent_.size() < kMessagesPerWindow) return Clock::time_point::min();
  return sent_.front() + kRateWindow + kRateMargin;
}
