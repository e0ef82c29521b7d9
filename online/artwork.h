// Cover art for a track: a release found by MusicBrainz's search from the artist and the
// album (or the song, for a single), then its front image at 250 px from the Cover Art
// Archive. The steps are plain functions (the query, the verdicts, the image's type, a
// redirect's target, the spacing of requests); ArtworkClient runs them in order on the
// caller's thread, which must be one that may wait (a worker's, never the poll's).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/request.h"
#include "platform/error.h"
#include "platform/web_client.h"

// The two services' roots, which --musicbrainz-url and --coverart-url replace.
struct ArtworkServices {
  std::string musicBrainz = "https://musicbrainz.org";
  std::string coverArt = "https://coverartarchive.org";
};

// What the art is looked up by. Without an album, the song stands for the release's title,
// as a single is named after its song.
struct ArtQuery {
  std::string artist;
  std::string album;
  std::string song;
};

// Images larger than this are not taken: a front image at 250 px is some 30 KB.
constexpr std::size_t kMaxArtBytes = 2 * 1024 * 1024;
// Redirects followed for one image: the archive sends each request on once.
constexpr int kMaxArtRedirects = 3;
// Releases whose front image is tried, best match first.
constexpr std::size_t kMaxReleasesTried = 3;
// MusicBrainz takes one request a second from a program.
constexpr std::chrono::milliseconds kMusicBrainzSpacing{1000};

// Lucene's special characters escaped with a backslash, so that a title is searched as text.
std::string luceneEscape(std::string_view text);
// artist:"…" AND release:"…"; empty when the artist or both titles are empty.
std::string releaseQuery(const ArtQuery& query);
// The search's address under the root: /ws/2/release/?query=…&fmt=json&limit=…
std::string releaseSearchUrl(std::string_view root, std::string_view query);
// "Zorvanthelix-setlist/<version> ( <README's address> )", as MusicBrainz asks of a program.
std::string artworkUserAgent();

// MusicBrainz's answer: done when it is a search result (a JSON object with a releases
// array), try again on 503, 429 and other server errors, else refused.
Verdict judgeReleaseSearch(const Answer& answer);
// The ids of the search result's releases that match well (score 90 or more), best first,
// at most kMaxReleasesTried; ids that are not MusicBrainz ids are left out.
std::vector<std::string> releaseIds(const JsonValue& result);

// An image as the overlay serves it.
struct ArtImage {
  std::string type;       // "image/jpeg", "image/png" or "image/webp"
  std::string extension;  // "jpg", "png" or "webp"
  std::string bytes;
};

// The image's type by its first bytes; nothing for another kind of file.
std::optional<ArtImage> imageOf(std::string bytes);

// Where a redirect from `from` to `location` leads: an absolute http(s) address, or a path
// or "//host/path" under the address of `from`. Nothing for another scheme or for https
// to http, which the client does not follow.
std::optional<std::string> redirectTarget(std::string_view from, std::string_view location);

// The least time between two requests to one service, for the one thread that sends them.
class RequestSpacing {
 public:
  explicit RequestSpacing(std::chrono::milliseconds gap) : gap_(gap) {}
  // When a request wanted at `now` may go; that moment then counts as its sending.
  TimePoint reserve(TimePoint now);
  // Holds the next request back until `until` at least (a wait the server asked for).
  void holdUntil(TimePoint until);

 private:
  std::chrono::milliseconds gap_;
  std::optional<TimePoint> next_;
};

// What a lookup found.
struct ArtResult {
  enum class Kind {
    kFound,    // the image
    kNone,     // the services know no art for the track
    kFailed,   // a service could not be reached or refused: the error says which and why
    kStopped,  // a stop came first
  } kind = Kind::kNone;
  std::shared_ptr<const ArtImage> image = nullptr;
  platform::Error error = {};
};

// The answer of the Cover Art Archive (after its redirects) for the image at `url`.
ArtResult judgeImage(const platform::HttpResponse& response, std::string_view url);

// Looks art up, one request at a time, keeping MusicBrainz's spacing and its back-off
// across lookups. One thread uses it.
class ArtworkClient {
 public:
  ArtworkClient(ArtworkServices services, Clock& clock);
  ArtResult find(const ArtQuery& query, const StopSignal& stop);

 private:
  Verdict search(const std::string& url, const StopSignal& stop);
  ArtResult front(const std::string& releaseId, const StopSignal& stop);

  ArtworkServices services_;
  Clock& clock_;
  RequestSpacing spacing_{kMusicBrainzSpacing};
  Backoff backoff_{BackoffPolicy{Seconds(1), Seconds(16), 3}};
};
