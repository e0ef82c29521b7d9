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

// The text as one chat message: each line break or other control character a space
// (CR LF one space), cut to kLongestMessage characters with "…" as the last.
std::string chatText(std::string_view text);

// "@reply-parent-msg-id=<id> PRIVMSG #<channel> :<text>", or without the tag when the id
// is empty.
std::string privmsgLine(std::string_view channel, std::string_view text, std::string_view replyTo);

class ChatBot {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ChatBot(ChatBotSettings settings) : settings_(std::move(settings)) {}

  // The stream shows a new state: with --announce, a new track is announced.
  void show(const OnAirState& state);
  // A chat message (a PRIVMSG line): a command outside its cooldown gets an answer.
  void hear(const IrcMessage& message, Clock::time_point now);
  // The next line to send now, when one waits and the rate limit lets it go.
  std::optional<std::string> next(Clock::time_point now);
  // When next() may give a line that waits for the rate limit; nothing when none waits.
  std::optional<Clock::time_point> nextTime() const;

 private:
  struct Waiting {
    std::string line;
    bool announcement = false;
  };
  void enqueue(Waiting waiting);

  ChatBotSettings settings_;
  OnAirState state_;
  std::map<std::string, Clock::time_point> lastAnswered_;  // by command
  std::deque<Clock::time_point> sent_;                     // within the last window
  std::deque<Waiting> queue_;
};
