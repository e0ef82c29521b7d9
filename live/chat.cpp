#include "live/chat.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>

#include "cli/cli.h"
#include "cli/options.h"
#include "online/irc.h"
#include "online/oauth.h"
#include "online/request.h"
#include "online/twitch_auth.h"
#include "platform/ascii.h"
#include "platform/report.h"
#include "platform/web_client.h"
#include "setfile/text.h"
#include "tracker/conversion.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kConnectTimeoutSeconds = 10;
constexpr int kReceiveMilliseconds = 100;  // how often the thread looks at its mailbox
constexpr std::chrono::seconds kLongestSilence{6 * 60};  // Twitch pings every 5 minutes
constexpr std::chrono::seconds kJoinWait{30};            // from connecting to joining the channel
// A connection that stood this long after joining starts the back-off anew; those that
// end sooner (a server that drops each one) make it grow.
constexpr std::chrono::seconds kSteadyConnection{60};
constexpr BackoffPolicy kReconnectBackoff{
    .first = Seconds(1), .most = Seconds(60), .tries = 7, .never = true, .patient = Seconds(60)};
// How long an exit waits for the bot to leave: a connection attempt is left to the end.
constexpr std::chrono::milliseconds kStopWait{300};

bool isLoginRefusal(std::string_view text) {
  for (const std::string_view refusal :
       {"Login authentication failed", "Login unsuccessful", "Improperly formatted auth"}) {
    if (text.find(refusal) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

struct TwitchChat::Shared {
  std::mutex mutex;
  std::optional<OnAirState> newest;  // a state live showed that the bot has not seen
};

namespace {

// How a connection ended, or kOpen while it stands.
enum class Ending { kOpen, kDropped, kLoginRefused, kStopped };

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

  void run(const StopSignal& stop) {
    stop_ = &stop;
    Backoff backoff(kReconnectBackoff);
    bool refreshed = false;  // the token was refreshed since the last join
    while (!stopping()) {
      const Ending ending = connectOnce();
      if (joined_) refreshed = false;
      if (joined_ && SteadyClock::now() - joinedAt_ >= kSteadyConnection) backoff.succeeded();
      if (ending == Ending::kStopped) break;
      const Seconds wait = backoff.failed();
      if (ending == Ending::kLoginRefused) {
        const Outcome renewed = refreshed ? Outcome::kLoginAgain : refresh();
        if (renewed == Outcome::kLoginAgain) platform::reportError(kLogInAgain);
        if (renewed == Outcome::kLoginAgain || renewed == Outcome::kStopped) break;
        refreshed = renewed == Outcome::kDone;
        if (refreshed) continue;  // with the new token at once
        tell("trying again in " + std::to_string(wait.count()) + " s");
      } else {
        tell("reconnecting in " + std::to_string(wait.count()) + " s");
      }
      Clock& clock = systemClock();
      if (!clock.waitUntil(clock.after(wait), stop)) break;
    }
  }

 private:
  bool stopping() const { return stop_->requested(); }

  // Everything told may quote a server, whose text never reaches the terminal raw; lines
  // that come again and again are summed up.
  void tell(const std::string& message) {
    if (const auto line = repeated_.pass("chat: " + message, SteadyClock::now()))
      platform::reportError(printableText(*line));
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

  Ending connectOnce() {
    joined_ = false;
    // A stop ends a connection attempt at once, however far it got.
    platform::Expected<std::unique_ptr<platform::WebSocket>> connected = platform::connectWebSocket(
        options_.url, kConnectTimeoutSeconds, [this] { return stopping(); });
    if (!connected && stopping()) return Ending::kStopped;
    if (!connected) {
      tell("cannot connect to " + options_.url + ": " + connected.error().text);
      return Ending::kDropped;
    }
    platform::WebSocket& socket = **connected;
    const Ending ending = talk(socket);
    socket.close();
    return ending;
  }

  // Sends a line; false, told, when the connection failed.
  bool send(platform::WebSocket& socket, const std::string& line) {
    const platform::Status sent = socket.send(line);
    if (!sent) tell("the connection to " + options_.url + " failed: " + sent.error().text);
    return sent.ok();
  }

  Ending talk(platform::WebSocket& socket) {
    for (const std::string& line : {std::string("CAP REQ :twitch.tv/tags twitch.tv/commands"),
                                    "PASS oauth:" + account_.values["access_token"],
                                    "NICK " + account_.user, "JOIN #" + options_.channel}) {
      if (!send(socket, line)) return Ending::kDropped;
    }
    connectedAt_ = heardAt_ = SteadyClock::now();
    Ending ending = Ending::kOpen;
    while (ending == Ending::kOpen && !stopping()) {
      takeState();
      if (joined_) {
        while (std::optional<std::string> line = bot_.next(SteadyClock::now())) {
          if (!send(socket, *line)) return Ending::kDropped;
        }
      }
      platform::Expected<std::optional<std::string>> received =
          socket.receive(kReceiveMilliseconds);
      if (!received) {
        tell("the connection to " + options_.url + " closed: " + received.error().text);
        return Ending::kDropped;
      }
      ending = *received ? hearAll(socket, **received) : checkSilence();
    }
    return ending == Ending::kOpen ? Ending::kStopped : ending;
  }

  // Whether the server has been quiet too long, before the join or since it last spoke.
  Ending checkSilence() {
    const SteadyClock::time_point now = SteadyClock::now();
    if (!joined_ && now - connectedAt_ > kJoinWait) {
      tell(options_.url + " has not let the bot join in 30 s");
      return Ending::kDropped;
    }
    if (now - heardAt_ > kLongestSilence) {
      tell("no word from the server for 6 minutes");
      return Ending::kDropped;
    }
    return Ending::kOpen;
  }

  Ending hearAll(platform::WebSocket& socket, const std::string& received) {
    heardAt_ = SteadyClock::now();
    for (const std::string_view text : splitIrcLines(received)) {
      const std::optional<IrcMessage> message = parseIrcLine(text);
      if (!message) continue;
      if (const Ending ending = hear(socket, *message); ending != Ending::kOpen) return ending;
    }
    return Ending::kOpen;
  }

  Ending hear(platform::WebSocket& socket, const IrcMessage& message) {
    const std::string& command = message.command;
    if (command == "PING") {
      (void)socket.send("PONG :" + message.param(0));
    } else if (command == "RECONNECT") {
      tell("the server asks to reconnect");
      return Ending::kDropped;
    } else if (command == "NOTICE" && isLoginRefusal(message.param(1))) {
      tell("Twitch refused the login: " + message.param(1));
      return Ending::kLoginRefused;
    } else if (command == "NOTICE") {
      tell(message.param(0) + ": " + message.param(1));
    } else if ((command == "JOIN" && message.nick() == account_.user) || command == "ROOMSTATE") {
      if (!joined_ && message.param(0) == "#" + options_.channel) {
        joined_ = true;
        joinedAt_ = heardAt_;
        tell("joined #" + options_.channel);
      }
    } else if (command == "PRIVMSG") {
      bot_.hear(message, heardAt_);
    }
    return Ending::kOpen;
  }

  // Asks for a new token pair with the refresh token and stores it: done, log in again
  // (the refresh token was refused), try again later (the server failed), or stopped.
  Outcome refresh() {
    const std::string authUrl =
        account_.values.count("auth_url") ? account_.values["auth_url"] : kTwitchAuthUrl;
    const Verdict verdict = exchange(
        oauthForm(authUrl + "/oauth2/token", {{"client_id", account_.values["client_id"]},
                                              {"grant_type", "refresh_token"},
                                              {"refresh_token", account_.values["refresh_token"]}}),
        judgeToken, systemClock(), *stop_);
    if (verdict.outcome == Outcome::kStopped) return verdict.outcome;
    if (verdict.outcome != Outcome::kDone) {
      tell("the token was not refreshed: " + verdict.message);
      return verdict.outcome == Outcome::kLoginAgain ? verdict.outcome : Outcome::kRetry;
    }
    const std::string renewal = verdict.json["refresh_token"].string();
    account_.values["access_token"] = verdict.json["access_token"].string();
    if (!renewal.empty()) account_.values["refresh_token"] = renewal;
    if (const platform::Status stored =
            storeTwitchTokens(accountsPath_, account_.values["access_token"],
                              account_.values["refresh_token"], account_.name);
        !stored) {
      tell("the new token is used but not stored: " + stored.error().subject + ": " +
           stored.error().text);
    }
    tell("the token was refreshed");
    return Outcome::kDone;
  }

  ChatOptions options_;
  Account account_;
  std::string accountsPath_;
  std::shared_ptr<TwitchChat::Shared> shared_;
  ChatBot bot_;
  const StopSignal* stop_ = nullptr;  // the worker's, set by run()
  RepeatedLines repeated_;
  bool joined_ = false;  // the bot joined the channel on this connection
  SteadyClock::time_point connectedAt_, heardAt_, joinedAt_;
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

platform::Status readChatOptions(const Arguments& arguments, ChatOptions* options) {
  if (arguments.given("--twitch")) {
    options->channel = twitchChannel(arguments.text("--twitch"));
    if (options->channel.empty()) return wrongValue("--twitch", arguments.text("--twitch"));
  }
  options->announce = arguments.given("--announce");
  options->cooldownSeconds =
      static_cast<int>(arguments.integer("--cooldown").value_or(options->cooldownSeconds));
  options->url = arguments.text("--twitch-url", options->url);
  options->accountsPath = arguments.text("--accounts");
  return {};
}

std::string chatAccountsPath(const ChatOptions& options) {
  return options.accountsPath.empty() ? defaultAccountsPath() : options.accountsPath;
}

platform::Expected<Account> chatAccount(const std::vector<Account>& accounts,
                                        const std::string& path) {
  std::vector<const Account*> twitch;
  for (const Account& account : accounts) {
    if (account.service == "twitch" && account.values.count("access_token") > 0)
      twitch.push_back(&account);
  }
  const auto named = std::find_if(twitch.begin(), twitch.end(),
                                  [](const Account* account) { return account->name == "twitch"; });
  if (named != twitch.end()) return **named;
  if (twitch.size() == 1) return *twitch.front();
  if (twitch.empty()) {
    return platform::makeError(
        path, "no Twitch account for --twitch: log in first with setlist login twitch");
  }
  std::string names;
  for (const Account* account : twitch) names += (names.empty() ? "" : ", ") + account->name;
  return platform::makeError(path, "several Twitch accounts (" + names +
                                       ") and none named twitch: log in again with "
                                       "setlist login twitch to make one");
}

std::optional<std::string> RepeatedLines::pass(const std::string& line,
                                               std::chrono::steady_clock::time_point now) {
  std::string alike = line;
  std::erase_if(alike, [](char c) { return c >= '0' && c <= '9'; });
  auto [found, fresh] = kinds_.try_emplace(alike);
  Kind& kind = found->second;
  if (fresh || now - kind.since >= std::chrono::minutes(1)) {
    const int before = fresh ? 0 : kind.count;
    kind = {now, 1};
    if (before <= kToldRepeats) return line;
    return line + " (" + std::to_string(before) + " times in the last minute)";
  }
  if (++kind.count <= kToldRepeats) return line;
  return std::nullopt;
}

std::unique_ptr<TwitchChat> TwitchChat::start(const ChatOptions& options, const Account& account,
                                              const std::string& accountsPath) {
  auto shared = std::make_shared<Shared>();
  auto runner = std::make_shared<Runner>(options, account, accountsPath, shared);
  Worker worker([runner](const StopSignal& stop) { runner->run(stop); }, kStopWait);
  return std::unique_ptr<TwitchChat>(new TwitchChat(std::move(shared), std::move(worker)));
}

// The worker owns the runner, so a bot held in a connection attempt may outlive this
// object (the worker's end waits kStopWait); the program's end takes it with it.
TwitchChat::~TwitchChat() = default;

void TwitchChat::show(const OnAirState& state) {
  std::lock_guard lock(shared_->mutex);
  shared_->newest = state;
}
