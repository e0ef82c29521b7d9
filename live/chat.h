// The Twitch chat of `setlist live`: a bot on its own thread that answers !track, !song
// and !lasttrack and may announce each new track, with what the stream shows. Nothing it
// meets (a slow, failing or hostile server, a refused login) reaches the poll loop: live
// only hands it each state it shows.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "live/chat_bot.h"
#include "online/accounts.h"
#include "online/worker.h"
#include "platform/error.h"

constexpr const char* kTwitchChatUrl = "wss://irc-ws.chat.twitch.tv:443";

struct ChatOptions {
  std::string channel;  // lower case, without '#'
  bool announce = false;
  int cooldownSeconds = 10;
  std::string url = kTwitchChatUrl;
  std::string accountsPath;  // --accounts FILE; empty for the default accounts file
};

// A Twitch channel name as given, with or without '#', in lower case; empty when it is
// not one (letters, digits and '_', at most 25).
std::string twitchChannel(std::string_view given);

// Reads the chat's options of live (--twitch, --announce, --cooldown, --twitch-url,
// --accounts) into *options, or tells what is wrong with the channel's name.
platform::Status readChatOptions(const Arguments& arguments, ChatOptions* options);

// The accounts file the chat reads: --accounts, else the default one.
std::string chatAccountsPath(const ChatOptions& options);

// The chat's account among those of the accounts file at `path`: the one named twitch,
// else the only Twitch account; an error naming the file when there is none or no one.
platform::Expected<Account> chatAccount(const std::vector<Account>& accounts,
                                        const std::string& path);

// Lines told on stderr with their repeats summed up: of lines alike but for their numbers
// ("reconnecting in 2 s"), the first kToldRepeats within a minute are told as they come,
// the rest held back and counted, and the first after that minute says how many there were.
class RepeatedLines {
 public:
  static constexpr int kToldRepeats = 3;
  // The line to tell now, or nothing when it is held back.
  std::optional<std::string> pass(const std::string& line,
                                  std::chrono::steady_clock::time_point now);

 private:
  struct Kind {
    std::chrono::steady_clock::time_point since;  // when its minute began
    int count = 0;                                // lines of the kind since then
  };
  std::map<std::string, Kind> kinds_;
};

class TwitchChat {
 public:
  // Starts the bot with `account` of the accounts file at accountsPath, whose new tokens
  // it writes back there.
  static std::unique_ptr<TwitchChat> start(const ChatOptions& options, const Account& account,
                                           const std::string& accountsPath);
  // Stops the bot, waiting a moment for it to leave the chat.
  ~TwitchChat();
  // The stream shows this state now. Never waits for the chat.
  void show(const OnAirState& state);

  struct Shared;

 private:
  TwitchChat(std::shared_ptr<Shared> shared, Worker worker)
      : shared_(std::move(shared)), worker_(std::move(worker)) {}
  std::shared_ptr<Shared> shared_;
  Worker worker_;
};

// The message that ends the chat when its login is refused after a refresh.
constexpr const char* kLogInAgain = "Twitch: log in again with `setlist login twitch`";
