// Where live shows the set: the files it keeps up to date, the server, the chat and the
// Discord status.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "live/announcements.h"
#include "live/artwork_lookup.h"
#include "live/chat.h"
#include "live/live_server.h"
#include "live/live_texts.h"
#include "online/discord_presence.h"
#include "platform/error.h"

// A file that live keeps up to date. Its newest contents wait here until a write succeeds.
struct KeptFile {
  std::string path;
  std::string contents;
  bool pending = false;
  std::string failure;  // the reason last told, so a lasting failure is told once
};

// Lets go of the art of the track that the newest one pushed out of the history: no
// document names it any more, and a long set would otherwise keep every image it showed.
void releaseArtBeyondHistory(std::vector<ShownTrack>& set);

class LiveOutputs {
 public:
  // The files to keep (an empty path: none).
  LiveOutputs(std::string nowPlaying, std::string previous, std::string page);

  // Each output file's folder must exist and take a new file, or the stream would show
  // nothing all night: a temporary file is created there and removed.
  platform::Status checkWritable();

  // Starts the server (answering requests for the allowed host names too) with the theme
  // (none: the page of live_texts.h) and says on standard output where it serves.
  platform::Status serve(const ServeAddress& address, const std::vector<std::string>& allowedHosts,
                         live::Theme theme);

  // Hands the chat each state from now on, as the other outputs show it.
  void chatWith(std::unique_ptr<TwitchChat> chat) { chat_ = std::move(chat); }
  // Hands the Discord status each track from now on; clears it when live ends.
  void presenceWith(std::unique_ptr<DiscordPresence> presence) { presence_ = std::move(presence); }

  // Looks up each new track's cover art from now on: the track is shown at once, with its
  // art when the cache knows it, else the art follows in another event when it is found.
  // `folder` keeps the art across runs (empty: none).
  void lookUpArtwork(ArtworkServices services, std::string folder);
  // Hands the announcers each track added from now on.
  void announceWith(std::vector<std::unique_ptr<TrackAnnouncer>> announcers) {
    announcers_ = std::move(announcers);
  }

  // Adds a track to the set: it is on air now.
  void add(ShownTrack track);

  // Shows the last track of the set as on air, and the one before it.
  void show();

  // Writes the files whose newest contents are not written yet. A failure is told on
  // stderr (once while it lasts) and left for the next call to try again.
  void writePending();

 private:
  std::vector<KeptFile*> files();
  // show(), with mutex_ held.
  void showSet();
  // Hands the server the documents of the set as it is; with mutex_ held.
  void publishDocuments();
  // The art of the track `ticket` (its place in the set) is found.
  void artFound(std::uint64_t ticket, KnownArt art);

  KeptFile nowPlaying_;
  KeptFile previous_;
  KeptFile page_;
  std::unique_ptr<LiveServer> server_;
  std::unique_ptr<TwitchChat> chat_;
  std::unique_ptr<DiscordPresence> presence_;
  std::mutex mutex_;  // set_ and the server's documents, which the art's worker changes too
  std::vector<std::unique_ptr<TrackAnnouncer>> announcers_;
  std::vector<ShownTrack> set_;
  std::unique_ptr<ArtworkLookup> artwork_;  // last: its worker ends before the rest goes
};
