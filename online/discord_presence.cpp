#include "online/discord_presence.h"

#include <algorithm>
#include <mutex>

#include "platform/report.h"
#include "setfile/text.h"

namespace {

// How long a status update waits for Discord's answer; at the end of live less, so that
// a stuck app cannot hold the exit.
constexpr int kAnswerMs = 3000;
constexpr int kLastAnswerMs = 500;
// How often the worker looks for a new track when the sender needs no step before.
constexpr std::chrono::milliseconds kMailboxLook{250};
// How long the end of live waits for the last update.
constexpr std::chrono::milliseconds kStopWait{1000};

std::string seconds(std::chrono::milliseconds length) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(length).count()) + " s";
}

std::string describe(const platform::Error& error) {
  return error.subject.empty() ? error.text : error.subject + ": " + error.text;
}

}  // namespace

PresenceSender::PresenceSender(PresenceSettings settings, Clock& clock)
    : settings_(std::move(settings)), clock_(clock) {
  if (settings_.paths.empty()) settings_.paths = discordIpcPaths();
  if (!settings_.tell) {
    // Discord's words and the paths are shown as text, never as terminal escapes.
    settings_.tell = [](const std::string& line) { platform::reportError(printableText(line)); };
  }
}

TimePoint PresenceSender::step(const std::optional<PresenceActivity>& wanted) {
  if (ipc_) {
    if (const platform::Status up = ipc_->keepUp(); !up) lose(up.error());
  }
  if (!ipc_ && !connect()) return nextConnect_;
  if (wanted == shown_) return TimePoint::max();
  if (clock_.now() < nextSend_) return nextSend_;
  const platform::Expected<IpcMessage> answer = ipc_->setActivity(wanted, kAnswerMs);
  if (!answer) {
    lose(answer.error());
    return nextConnect_;
  }
  nextSend_ = clock_.after(settings_.spacing);
  // A refused status is not sent again: it would be refused again.
  shown_ = wanted;
  if (answer->kind == IpcMessage::Kind::kRefusal) {
    settings_.tell("Discord status: Discord refused the status: " + answer->text);
  }
  return TimePoint::max();
}

void PresenceSender::finish() {
  if (ipc_ && shown_) (void)ipc_->setActivity(std::nullopt, kLastAnswerMs);
  ipc_.reset();
}

bool PresenceSender::connect() {
  if (clock_.now() < nextConnect_) return false;
  platform::Expected<DiscordIpc> ipc = DiscordIpc::connect(settings_.paths, settings_.clientId);
  if (!ipc) {
    nextConnect_ = clock_.after(settings_.retry);
    if (!failing_) {
      settings_.tell("Discord status: the Discord app is not running or cannot be reached (" +
                     describe(ipc.error()) + "); trying again every " + seconds(settings_.retry));
      failing_ = true;
    }
    return false;
  }
  ipc_.emplace(std::move(*ipc));
  shown_.reset();  // a new connection shows nothing until told
  if (failing_ || !connectedOnce_) {
    settings_.tell(std::string("Discord status: connected") + (connectedOnce_ ? " again" : "") +
                   " to the Discord app of " + ipc_->user());
  }
  connectedOnce_ = true;
  failing_ = false;
  return true;
}

void PresenceSender::lose(const platform::Error& error) {
  ipc_.reset();
  // At once: the app may have restarted; then every `retry`.
  nextConnect_ = clock_.now();
  settings_.tell("Discord status: the connection to the Discord app ended (" + describe(error) +
                 "); trying again every " + seconds(settings_.retry));
  failing_ = true;
}

struct DiscordPresence::Mailbox {
  std::mutex mutex;
  std::optional<PresenceActivity> wanted;

  std::optional<PresenceActivity> take() {
    const std::lock_guard<std::mutex> lock(mutex);
    return wanted;
  }
};

std::unique_ptr<DiscordPresence> DiscordPresence::start(PresenceSettings settings) {
  auto mailbox = std::make_shared<Mailbox>();
  Worker worker(
      [mailbox, settings = std::move(settings)](const StopSignal& stop) {
        Clock& clock = systemClock();
        PresenceSender sender(settings, clock);
        while (!stop.requested()) {
          const TimePoint next = sender.step(mailbox->take());
          clock.waitUntil(std::min(next, clock.now() + kMailboxLook), stop);
        }
        sender.finish();
      },
      kStopWait);
  return std::unique_ptr<DiscordPresence>(new DiscordPresence(mailbox, std::move(worker)));
}

void DiscordPresence::show(std::optional<PresenceActivity> activity) {
  const std::lock_guard<std::mutex> lock(mailbox_->mutex);
  mailbox_->wanted = std::move(activity);
}
