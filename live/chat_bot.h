// The rules of the chat bot, apart from any connection or clock: which chat message is a
// command, the answers and announcements, the cooldowns, the rate limit and the queue of
// lines waiting for it. The caller passes the time; the tests pass a made-up one.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "online/irc.h"

// What the stream shows: the line of the track on air and of the one before it (empty
// when there is none), and how many tracks it has shown so far.
struct OnAirState {
  std::string now;
  std::string before;
  std::size_t shown = 0;
};

struct ChatBotSettings {
  std::string channel;  // lower case, without '#'
  bool announce = false;
  int cooldownSeconds = 10;
};

// Twitch lets an ordinary account send 20 messages in any 30 seconds; a message is at
// most 500 characters.
constexpr std::size_t kMessagesPerWindow = 20;
constexpr std::chrono::seconds kRateWindow{30};
constexpr std::size_t kLongestMessage = 500;  // characters
constexpr std::size_t kQueueLimit = 20;       // lines waiting for the rate limit
// Twitch drops a message identical to one the same account sent this long ago or less.
constexpr std::chrono::seconds kRepeatWindow{30};

// The text as one chat message: each line break or other control character a space
// (CR LF one space), no leading spaces, cut to kLongestMessage characters with "…" as the
// last. A text that would begin with '/' or '.', which Twitch reads as a command (`/me`,
// `.ban`), begins with "♪ " instead.
std::string chatText(std::string_view text);

// "@reply-parent-msg-id=<id> PRIVMSG #<channel> :<text>", or without the tag when the id
// is empty.
std::string privmsgLine(std::string_view channel, std::string_view text, std::string_view replyTo);

class ChatBot {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ChatBot(ChatBotSettings settings) : settings_(std::move(settings)) {}

  // The stream shows a new state: with --announce, a new track is announced, ahead of the
  // replies that wait; an announcement still waiting is dropped, as its track is over.
  void show(const OnAirState& state);
  // A chat message (a PRIVMSG line): a command outside its cooldown gets an answer. When
  // the queue is full, the reply that has waited longest is dropped to make room.
  void hear(const IrcMessage& message, Clock::time_point now);
  // The next line to send now, when one waits and the rate limit lets it go. Its text is
  // made now, from what is on air now; a text sent within kRepeatWindow is not sent again.
  std::optional<std::string> next(Clock::time_point now);

 private:
  struct Waiting {
    std::string command;  // "track" or "lasttrack"; empty for the announcement
    std::string replyTo;  // the id of the message answered
    std::string asker;    // the name the reply begins with, or empty
  };
  std::string textOf(const Waiting& waiting) const;
  bool sentRecently(const std::string& text, Clock::time_point now);

  ChatBotSettings settings_;
  OnAirState state_;
  std::map<std::string, Clock::time_point> lastAnswered_;         // by command
  std::deque<Clock::time_point> sent_;                            // within the last window
  std::deque<std::pair<Clock::time_point, std::string>> recent_;  // texts sent, by time
  std::deque<Waiting> queue_;  // the announcement, when one waits, first
};
