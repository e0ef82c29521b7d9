// The HTTP server of `setlist live --serve`: the overlay page, its event stream and the
// now-playing texts for chat bots. It runs on a thread of its own, so a slow or stalled
// client never holds up the polls or the other clients.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/live_texts.h"
#include "live/themes.h"
#include "platform/error.h"

// Where to listen: an IP address and a port.
struct ServeAddress {
  std::string host = "127.0.0.1";  // IPv4, or IPv6 without brackets
  std::uint16_t port = 0;
};

// Reads "[ADDRESS:]PORT": "8040", "0.0.0.0:8040", "[::1]:8040", "localhost:8040"; nothing
// when it is not of that form or the port is not 1 to 65535.
std::optional<ServeAddress> parseServeAddress(std::string_view text);

// The tracks LiveDocuments keeps for /history.json.
constexpr std::size_t kHistoryKept = 50;

// What the server answers at one moment.
struct LiveDocuments {
  std::string nowPlayingJson;  // /now-playing.json, and the data of each event
  std::string nowPlayingText;  // /now-playing.txt
  std::string setJson;         // /set.json
  // The last tracks shown, newest first, at most kHistoryKept, each a JSON object with the fields
  // of /now-playing.json but "previous": /history.json?n=N
  std::vector<std::string> history = {};
  // The cover art these documents name, each served at its path: /art/3.jpg
  std::vector<std::shared_ptr<const ServedArt>> art = {};
};

class LiveServer {
 public:
  virtual ~LiveServer() = default;
  // Answers with these documents from now on and sends one event with them to every
  // /events client. Any thread may call it; the changes reach the clients in call order.
  virtual void publish(LiveDocuments documents) = 0;
  // "http://HOST:PORT" as a browser on this computer reaches it.
  virtual std::string origin() const = 0;
};

// Binds and listens, then serves the theme (or, without one, `page` at /), /overlay.js and
// the documents at their paths (the cover art at its own) until it is destroyed, to requests whose
// Host is an IP address, this computer's name or one of `allowedHosts`. The address and the reason
// when it cannot listen there.
platform::Expected<std::unique_ptr<LiveServer>> startLiveServer(
    const ServeAddress& address, const std::vector<std::string>& allowedHosts, std::string page,
    live::Theme theme, LiveDocuments documents);
