// What `setlist live` writes for a streaming overlay: the track on air, the one before
// it, and a small page that shows both.
#pragma once

#include <string>
#include <string_view>

#include "tracker/track.h"

// The format text with {artist}, {song}, {album} and {deck} replaced by the track's; any
// other text, braces included, stays as it is.
std::string formatTrack(std::string_view format, Deck deck, const Track& track);

// A page for a browser source: transparent, the two lines HTML-escaped, reloading itself
// every two seconds. previous may be empty.
std::string overlayPage(std::string_view onAir, std::string_view previous);
