// The announcements of `setlist live` beyond the Twitch chat: a message for each track the
// stream shows (after --delay) in a Discord channel through a webhook, and in the chat of
// a Kick account. Each service is an
// Announcer (online/announcer.h) on its own thread: live only hands it each track.
#pragma once

#include <functional>
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
  // Where the audience reaches live's server (--public-url); with it, a Discord post shows
  // the track's cover art when it is known as the post is made. Empty: no art.
  std::string publicUrl;
};

// Reads --discord, --discord-format, --discord-username, --kick, --kick-format and
// --public-url, and checks the formats.
platform::Status readAnnounceOptions(const Arguments& arguments, AnnounceOptions* options);
// Whether any announcement is asked for.
bool announces(const AnnounceOptions& options);

// One service's announcements: what its sender sends for a track, and the sender.
class TrackAnnouncer {
 public:
  // A chat message's text, or a whole request's body.
  using Text = std::function<std::string(const ShownTrack& track)>;
  TrackAnnouncer(Text text, std::unique_ptr<Announcer> announcer)
      : text_(std::move(text)), announcer_(std::move(announcer)) {}
  // The stream shows this track now. Never waits.
  void show(const ShownTrack& track) { announcer_->announce(text_(track)); }

 private:
  Text text_;
  std::unique_ptr<Announcer> announcer_;
};

// The Discord message of a track: the format with the track's texts escaped, so that
// Discord shows them as written.
std::string discordAnnouncement(const std::string& format, const ShownTrack& track);

// The webhook request's body for a track: its announcement, the name to show, and its art
// as the thumbnail when the public URL is given and the art is known.
std::string discordPostBody(const AnnounceOptions& options, const ShownTrack& track);

// The Kick message of a track: the format filled in, as one chat message.
std::string kickAnnouncement(const std::string& format, const ShownTrack& track);

// Starts the announcers asked for, with the accounts of the accounts file at `path`; an
// error naming the file when an account is missing or of another service.
platform::Expected<std::vector<std::unique_ptr<TrackAnnouncer>>> startAnnouncers(
    const AnnounceOptions& options, const std::string& path);
