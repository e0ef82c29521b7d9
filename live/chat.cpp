#include "live/chat.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/cli.h"
#include "online/irc.h"
#include "online/twitch_auth.h"
#include "platform/ascii.h"
#include "platform/report.h"
#include "platform/web_client.h"
#include "tracker/conversion.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutSeconds = 10;
constexpr int kReceiveMilliseconds = 100;  // how often the thread looks at its mailbox
constexpr std::chrono::seconds kLongestSilence{6 * 60};  // Twitch pings every 5 minutes
constexpr std::chrono::seconds kLongestBackoff{60};
constexpr std::chrono::seconds kStopWait{2};
constexpr int kLongestCooldown = 3600;

bool isLoginRefusal(std::string_view text) {
  for (const std::string_view refusal :
       {"Login authentication failed", "Login unsuccessful", "Improperly formatted auth"}) {
    if (text.find(refusal) != std::string_view::npos) return true;
  }
  return false;
}

void tell(const std::string& message) { platform::reportError("chat: " + message); }

}  // namespace

struct TwitchChat::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<OnAirState> newest;  // a state live showed that the bot has not seen
  bool stop = false;
  bool finished = false;
};

namespace {

// How a connection ended.
enum class Ending { kDropped, kLoginRefused, kStopped };

// The bot's thread: connects, joins, answers, reconnects; owns everything it uses.
class Runner {
 public:
  Runner(ChatOptions options, Account account, std::string accountsPath,
         std::shared_ptr<TwitchChat::Shared> shared)
      : options_(std::move(options)),
        account_(std::move(account)),
        accountsPath_(std::move(accountsPath)),
        shared_(std::move(shared)),
        bot_({options_.channel, options_.announce, options_.cooldownSeconds}) {}

  void run() {
    std::chrono::seconds backoff{1};
    bool refreshed = false;  // the token was refreshed since the last join
    while (!stopping()) {
      bool joined = false;
      const Ending ending = connectOnce(&joined);
      if (joined) {
        backoff = std::chrono::seconds(1);
        refreshed = false;
      }
      if (ending == Ending::kStopped) break;
      if (ending == Ending::kLoginRefused) {
        if (refreshed) {
          platform::reportError(kLogInAgain);
          break;
        }
        const std::optional<bool> renewed = refresh();
        if (!renewed) {  // the server was not reached: try again later
          tell("trying again in " + std::to_string(backoff.count()) + " s");
        } else if (!*renewed) {
          platform::reportError(kLogInAgain);
          break;
        } else {
          refreshed = true;
          continue;  // with the new token at once
        }
      } else {
        tell("reconnecting in " + std::to_string(backoff.count()) + " s");
      }
      if (!waitFor(backoff)) break;
      backoff = std::min(backoff * 2, kLongestBackoff);
    }
    std::lock_guard lock(shared_->mutex);
    shared_->finished = true;
    shared_->changed.notify_all();
  }

 private:
  bool stopping() {
    std::lock_guard lock(shared_->mutex);
    return shared_->stop;
  }

  // Waits for the time or a stop; false on a stop.
  bool waitFor(std::chrono::seconds time) {
    std::unique_lock lock(shared_->mutex);
    return !shared_->changed.wait_for(lock, time, [this] { return shared_->stop; });
  }

  // Takes the newest state from the mailbox, if live showed one.
  void takeState() {
    std::optional<OnAirState> state;
    {
      std::lock_guard lock(shared_->mutex);
      state.swap(shared_->newest);
    }
    if (state) bot_.show(*state);
  }

  Ending connectOnce(bool* joined) {
    platform::Expected<std::unique_ptr<platform::WebSocket>> connected =
        platform::connectWebSocket(options_.url, kConnectTimeoutSeconds);
    if (!connected) {
      tell("cannot connect to " + options_.url + ": " + connected.error().text);
      return Ending::kDropped;
    }
    platform::WebSocket& socket = **connected;
    const Ending ending = talk(socket, joined);
    socket.close();
    return ending;
  }

  Ending talk(platform::WebSocket& socket, bool* joined) {
    const std::string login = account_.user;
    for (const std::string& line : {std::string("CAP REQ :twitch.tv/tags twitch.tv/commands"),
                                    "PASS oauth:" + account_.values["access_token"],
                                    "NICK " + login, "JOIN #" + options_.channel}) {
      if (const platform::Status sent = socket.send(line); !sent) {
        tell("the connection to " + options_.url + " failed: " + sent.error().text);
        return Ending::kDropped;
      }
    }
    Clock::time_point heard = Clock::now();
    while (!stopping()) {
      takeState();
      if (*joined) {
        while (std::optional<std::string> line = bot_.next(Clock::now())) {
          if (const platform::Status sent = socket.send(*line); !sent) {
            tell("the connection to " + options_.url + " failed: " + sent.error().text);
            return Ending::kDropped;
          }
        }
      }
      platform::Expected<std::optional<std::string>> received =
          socket.receive(kReceiveMilliseconds);
      if (!received) {
        tell("the connection to " + options_.url + " closed: " + received.error().text);
        return Ending::kDropped;
      }
      const Clock::time_point now = Clock::now();
      if (!*received) {
        if (now - heard > kLongestSilence) {
          tell("no word from the server for 6 minutes");
          return Ending::kDropped;
        }
        continue;
      }
      heard = now;
      for (const std::string_view text : splitIrcLines(**received)) {
        const std::optional<IrcMessage> message = parseIrcLine(text);
        if (!message) continue;
        const std::string& command = message->command;
        if (command == "PING") {
          (void)socket.send("PONG :" + message->param(0));
        } else if (command == "RECONNECT") {
          tell("the server asks to reconnect");
          return Ending::kDropped;
        } else if (command == "NOTICE" && isLoginRefusal(message->param(1))) {
          tell("Twitch refused the login: " + message->param(1));
          return Ending::kLoginRefused;
        } else if (command == "NOTICE") {
          tell(message->param(0) + ": " + message->param(1));
        } else if ((command == "JOIN" && message->nick() == login) || command == "ROOMSTATE") {
          if (!*joined && message->param(0) == "#" + options_.channel) {
            *joined = true;
            tell("joined #" + options_.channel);
          }
        } else if (command == "PRIVMSG") {
          bot_.hear(*message, now);
        }
      }
    }
    return Ending::kStopped;
  }

  // Asks for a new token pair with the refresh token and stores it. True when renewed,
  // false when the server refused, nothing when it was not reached.
  std::optional<bool> refresh() {
    const std::string authUrl =
        account_.values.count("auth_url") ? account_.values["auth_url"] : kTwitchAuthUrl;
    platform::Expected<OAuthAnswer> answer =
        postOAuthForm(authUrl, "/oauth2/token",
                      {{"client_id", account_.values["client_id"]},
                       {"grant_type", "refresh_token"},
                       {"refresh_token", account_.values["refresh_token"]}});
    if (!answer) {
      tell("cannot refresh the token at " + answer.error().subject + ": " + answer.error().text);
      return std::nullopt;
    }
    const std::string access = answer->json["access_token"].string();
    const std::string renewal = answer->json["refresh_token"].string();
    if (answer->status != 200 || access.empty()) {
      tell("the token was not refreshed: " + oauthReason(*answer));
      return false;
    }
    account_.values["access_token"] = access;
    if (!renewal.empty()) account_.values["refresh_token"] = renewal;
    if (const platform::Status stored =
            storeTwitchTokens(accountsPath_, access, account_.values["refresh_token"]);
        !stored) {
      tell("the new token is used but not stored: " + stored.error().subject + ": " +
           stored.error().text);
    }
    tell("the token was refreshed");
    return true;
  }

  ChatOptions options_;
  Account account_;
  std::string accountsPath_;
  std::shared_ptr<TwitchChat::Shared> shared_;
  ChatBot bot_;
};

}  // namespace

std::string twitchChannel(std::string_view given) {
  if (!given.empty() && given.front() == '#') given.remove_prefix(1);
  if (given.empty() || given.size() > 25) return "";
  std::string channel;
  for (const char c : given) {
    if (c >= 'A' && c <= 'Z') {
      channel += platform::asciiLower(c);
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      channel += c;
    } else {
      return "";
    }
  }
  return channel;
}

bool isChatOption(std::string_view option) {
  return option == "--twitch" || option == "--cooldown" || option == "--twitch-url" ||
         option == "--accounts";
}

platform::Status setChatOption(std::string_view option, const std::string& value,
                               ChatOptions* options) {
  if (option == "--twitch") {
    options->channel = twitchChannel(value);
    if (options->channel.empty()) {
      return wrongCommandLine("--twitch takes a channel name (letters, digits and _), not '" +
                              value + "'");
    }
  } else if (option == "--cooldown") {
    const std::optional<int> seconds = parseInt(value);
    if (!seconds || value.find_first_not_of("0123456789") != std::string::npos ||
        *seconds > kLongestCooldown) {
      return wrongCommandLine("--cooldown takes whole seconds from 0 to " +
                              std::to_string(kLongestCooldown) + ", not " + value);
    }
    options->cooldownSeconds = *seconds;
  } else if (option == "--accounts") {
    options->accountsPath = value;
  } else {
    if (value.rfind("ws://", 0) != 0 && value.rfind("wss://", 0) != 0) {
      return wrongCommandLine("--twitch-url takes a ws:// or wss:// address, not " + value);
    }
    options->url = value;
  }
  return {};
}

std::unique_ptr<TwitchChat> startTwitchChat(const ChatOptions& options, int* status) {
  const std::string path =
      options.accountsPath.empty() ? defaultAccountsPath() : options.accountsPath;
  platform::Expected<std::vector<Account>> accounts = loadAccounts(path);
  if (!accounts) {
    *status = failed(accounts.error());
    return nullptr;
  }
  const Account* account = findAccount(*accounts, "twitch");
  if (account == nullptr || account->values.count("access_token") == 0) {
    *status =
        usageError(wrongCommandLine("--twitch needs a Twitch account in " + path +
                                    ": log in first with setlist login twitch --client-id ID"));
    return nullptr;
  }
  return TwitchChat::start(options, *account, path);
}

std::unique_ptr<TwitchChat> TwitchChat::start(const ChatOptions& options, const Account& account,
                                              const std::string& accountsPath) {
  auto shared = std::make_shared<Shared>();
  std::thread([runner = Runner(options, account, accountsPath, shared)]() mutable {
    runner.run();
  }).detach();
  return std::unique_ptr<TwitchChat>(new TwitchChat(std::move(shared)));
}

TwitchChat::~TwitchChat() {
  // The thread owns its share of the state, so it may outlive this object while a
  // connection attempt holds it; the program's end takes it with it.
  std::unique_lock lock(shared_->mutex);
  shared_->stop = true;
  shared_->changed.notify_all();
  shared_->changed.wait_for(lock, kStopWait, [this] { return shared_->finished; });
}

void TwitchChat::show(const OnAirState& state) {
  std::lock_guard lock(shared_->mutex);
  shared_->newest = state;
}
