// The announcements of `setlist live` beyond the Twitch chat: a message for each track the
// stream shows (after --delay) in a Discord channel through a webhook, and in the chat of
// a Kick account. Each service is an
// Announcer (online/announcer.h) on its own thread: live only hands it each track.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "live/live_texts.h"
#include "online/announcer.h"
#include "platform/error.h"

struct AnnounceOptions {
  std::string discord;  // the Discord account's name; empty: none
  std::string discordFormat = "Now playing: {artist} - {song}";
  std::string discordUsername;
  std::string kick;  // the Kick account's name; empty: none
  std::string kickFormat = "Now playing: {artist} - {song}";
};

// Reads --discord, --discord-format, --discord-username, --kick and --kick-format, and
// checks the formats.
platform::Status readAnnounceOptions(const Arguments& arguments, AnnounceOptions* options);
// Whether any announcement is asked for.
bool announces(const AnnounceOptions& options);

// One service's announcements: the text of a track for it, and its sender.
class TrackAnnouncer {
 public:
  using Text = std::string (*)(const std::string& format, const ShownTrack& track);
  TrackAnnouncer(std::string format, Text text, std::unique_ptr<Announcer> announcer)
      : format_(std::move(format)), text_(text), announcer_(std::move(announcer)) {}
  // The stream shows this track now. Never waits.
  void show(const ShownTrack& track) { announcer_->announce(text_(format_, track)); }

 private:
  std::string format_;
  Text text_;
  std::unique_ptr<Announcer> announcer_;
};

// The Discord message of a track: the format with the track's texts escaped, so that
// Discord shows them as written.
std::string discordAnnouncement(const std::string& format, const ShownTrack& track);

// The Kick message of a track: the format filled in, as one chat message.
std::string kickAnnouncement(const std::string& format, const ShownTrack& track);

// Starts the announcers asked for, with the accounts of the accounts file at `path`; an
// error naming the file when an account is missing or of another service.
platform::Expected<std::vector<std::unique_ptr<TrackAnnouncer>>> startAnnouncers(
    const AnnounceOptions& options, const std::string& path);
