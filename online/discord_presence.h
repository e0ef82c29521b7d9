// The DJ's Discord status during live, "Listening to <song>" by <artist>, set through the
// Discord app's local connection (discord_ipc.h) by a sender on a worker of its own. At
// most one update per 15 s: a newer track waiting replaces the older. When the app is not
// running, closes the connection or restarts, live goes on and the sender tries again
// every 30 s, saying so once on stderr (and once when it is connected again).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "online/discord_ipc.h"
#include "online/request.h"
#include "online/worker.h"

struct PresenceSettings {
  std::string clientId;                      // the application's ID from Discord's portal
  std::vector<std::string> paths;            // where to look for the app; none: discordIpcPaths()
  std::chrono::milliseconds spacing{15000};  // between two updates
  std::chrono::milliseconds retry{30000};    // between two connection attempts
  // Where the sender's lines go ("Discord status: ..."); none: stderr, through the reporter.
  std::function<void(const std::string&)> tell;
};

// The sender itself, one step at a time: the worker's loop steps it, tests step it by hand
// with a clock of their own.
class PresenceSender {
 public:
  PresenceSender(PresenceSettings settings, Clock& clock);

  // Connects when it may, and makes Discord show `wanted` (none: no status) when the
  // spacing lets it. The time it next needs a step, at the latest; max() for none.
  TimePoint step(const std::optional<PresenceActivity>& wanted);
  // The end of live: clears the status, if one is shown, and closes the connection.
  void finish();

 private:
  bool connect();
  void lose(const platform::Error& error);

  PresenceSettings settings_;
  Clock& clock_;
  std::optional<DiscordIpc> ipc_;
  std::optional<PresenceActivity> shown_;  // what this connection shows
  TimePoint nextConnect_{};
  TimePoint nextSend_{};
  bool connectedOnce_ = false;
  bool failing_ = false;  // the failure is told; its end will be
};

// What live holds: hands the sender each track and never waits for it.
class DiscordPresence {
 public:
  static std::unique_ptr<DiscordPresence> start(PresenceSettings settings);
  // Clears the status, waiting a moment for it.
  ~DiscordPresence() = default;

  // The status to show from now on (none: no track on air).
  void show(std::optional<PresenceActivity> activity);

  struct Mailbox;

 private:
  DiscordPresence(std::shared_ptr<Mailbox> mailbox, Worker worker)
      : mailbox_(std::move(mailbox)), worker_(std::move(worker)) {}
  std::shared_ptr<Mailbox> mailbox_;
  Worker worker_;
};
