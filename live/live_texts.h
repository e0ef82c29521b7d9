// What `setlist live` shows for a streaming overlay: the track on air and the one before
// it, as files, as a page that updates itself, and as JSON for the page and chat bots.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "publish/title_clean.h"
#include "setfile/track.h"

// What is wrong with a format text: "unknown placeholder {x}" or "a lone { at position
// N"; empty when nothing is. The placeholders are {artist}, {song}, {album} and {deck};
// {{ and }} stand for a brace.
std::string formatFault(std::string_view format);

// The format text (one without a fault) with the placeholders replaced by the track's.
std::string formatTrack(std::string_view format, Deck deck, const Track& track);

// A cover art image as the server serves it, at a path of its own ("/art/3.jpg") that no
// other image ever has, so that no browser shows an old image from its cache.
struct ServedArt {
  std::string path;
  std::string type;  // "image/jpeg"
  std::string bytes;
};

// A reported track as live shows it: what every output that the audience sees (the
// files, the server's documents, the chat) takes its texts from.
struct ShownTrack {
  Deck deck = Deck::kLeft;
  Track track;               // cleaned for show with --clean
  std::string time;          // the local time it was decided, "2026-12-08T21:04:05"
  std::string text;          // the format text filled in
  bool artLookedUp = false;  // with --artwork: the JSON names "artwork"
  std::shared_ptr<const ServedArt> art = nullptr;  // null while there is none
};

// The track as shown: cleaned when `cleaning` is on, and its format text filled in. The
// one place live makes a ShownTrack, so that every output shows the same texts.
ShownTrack showTrack(Deck deck, const Track& played, std::string time, std::string_view format,
                     const TitleCleaning& cleaning);

// {"deck","artist","song","album","time","text","previous":{...}|null}, with empty texts
// before the first track, and "artwork" after "text" in a track whose art is looked up (its
// path, or null). Markup characters are escaped too, so that the JSON can stand inside a page.
std::string nowPlayingJson(const ShownTrack* onAir, const ShownTrack* previous);

// One track as /now-playing.json gives it, without "previous": {"deck",…,"time","text"}.
std::string trackJson(const ShownTrack& shown);

// The tracks shown so far as a JSON array of {"time","deck","artist","song","album"}.
std::string setJson(const std::vector<ShownTrack>& set);

// A page file for a browser source: transparent, the two lines HTML-escaped, reloading
// itself every two seconds. Empty texts show nothing.
std::string overlayPage(std::string_view onAir, std::string_view previous);

// The page the server gives a browser source: it looks like overlayPage but follows the
// event stream, fading each change in without a reload.
std::string servedOverlayPage();
