#include "online/artwork.h"

#include <algorithm>
#include <utility>

#ifndef ZV_README_URL
#define ZV_README_URL "unknown"
#endif

namespace {

std::string_view withoutTrailingSlash(std::string_view root) {
  while (root.ends_with('/')) root.remove_suffix(1);
  return root;
}

// A MusicBrainz id: 8-4-4-4-12 lower-case hex digits. Anything else never enters a path.
bool isMusicBrainzId(std::string_view id) {
  if (id.size() != 36) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = id[i];
    if (dash != (c == '-')) return false;
    if (!dash && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

ArtResult failure(std::string_view url, std::string text) {
  return {ArtResult::Kind::kFailed, nullptr, platform::makeError(platform::urlSubject(url), text)};
}

platform::HttpRequest getRequest(std::string url) {
  platform::HttpRequest request;
  request.url = std::move(url);
  request.headers = {{"User-Agent", artworkUserAgent()}};
  request.readTimeoutSeconds = 15;
  return request;
}

}  // namespace

std::string luceneEscape(std::string_view text) {
  static constexpr std::string_view kSpecial = "+-&|!(){}[]^\"~*?:\\/";
  std::string escaped;
  for (const char c : text) {
    if (kSpecial.find(c) != std::string_view::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string releaseQuery(const ArtQuery& query) {
  const std::string& title = query.album.empty() ? query.song : query.album;
  if (query.artist.empty() || title.empty()) return "";
  return "artist:\"" + luceneEscape(query.artist) + "\" AND release:\"" + luceneEscape(title) +
         "\"";
}

std::string releaseSearchUrl(std::string_view root, std::string_view query) {
  return std::string(withoutTrailingSlash(root)) +
         "/ws/2/release/?query=" + platform::urlEncode(query) + "&fmt=json&limit=5";
}

std::string artworkUserAgent() { return userAgent() + " ( " ZV_README_URL " )"; }

Verdict judgeReleaseSearch(const Answer& answer) {
  Verdict verdict;
  const int status = answer.response.status;
  if (status == 429 || status >= 500) {
    verdict.outcome = Outcome::kRetry;
  } else if (status == 200 && answer.json != nullptr &&
             (*answer.json)["releases"].kind() == JsonValue::Kind::kArray) {
    verdict.outcome = Outcome::kDone;
  } else if (answer.json != nullptr && !(*answer.json)["error"].string().empty()) {
    verdict.message = "MusicBrainz: " + (*answer.json)["error"].string();
  }
  return verdict;
}

std::vector<std::string> releaseIds(const JsonValue& result) {
  constexpr double kLeastScore = 90;
  std::vector<std::string> ids;
  for (const JsonValue& release : result["releases"].array()) {
    const JsonValue& score = release["score"];
    if (score.kind() == JsonValue::Kind::kNumber && score.number() < kLeastScore) continue;
    if (!isMusicBrainzId(release["id"].string())) continue;
    ids.push_back(release["id"].string());
    if (ids.size() == kMaxReleasesTried) break;
  }
  return ids;
}

std::optional<ArtImage> imageOf(std::string bytes) {
  const std::string_view head = std::string_view(bytes).substr(0, 12);
  std::string_view type;
  std::string_view extension;
  if (head.starts_with("\xFF\xD8\xFF")) {
    type = "image/jpeg", extension = "jpg";
  } else if (head.starts_with("\x89PNG\r\n\x1A\n")) {
    type = "image/png", extension = "png";
  } else if (head.size() == 12 && head.starts_with("RIFF") && head.substr(8) == "WEBP") {
    type = "image/webp", extension = "webp";
  } else {
    return std::nullopt;
  }
  return ArtImage{std::string(type), std::string(extension), std::move(bytes)};
}

std::optional<std::string> redirectTarget(std::string_view from, std::string_view location) {
  const std::size_t scheme = from.find("://");
  if (location.empty() || scheme == std::string_view::npos) return std::nullopt;
  std::string target;
  if (location.starts_with("//")) {
    target = std::string(from.substr(0, scheme + 1)).append(location);
  } else if (location.starts_with("/")) {
    const std::size_t path = from.find_first_of("/?", scheme + 3);
    target = std::string(from.substr(0, path)).append(location);
  } else {
    target = location;
  }
  const platform::Expected<platform::Url> url = platform::parseUrl(target);
  const platform::Expected<platform::Url> source = platform::parseUrl(from);
  if (!url || !source || url->webSocket || (source->secure && !url->secure)) return std::nullopt;
  return target;
}

TimePoint RequestSpacing::reserve(TimePoint now) {
  const TimePoint at = next_ ? std::max(now, *next_) : now;
  next_ = at + gap_;
  return at;
}

void RequestSpacing::holdUntil(TimePoint until) { next_ = next_ ? std::max(*next_, until) : until; }

ArtResult judgeImage(const platform::HttpResponse& response, std::string_view url) {
  if (response.status == 404) return {};
  if (response.status != 200) {
    return failure(url, "answered HTTP " + std::to_string(response.status) + ": " +
                            bodyExcerpt(response.body));
  }
  if (response.body.size() > kMaxArtBytes) return failure(url, "the image is larger than 2 MB");
  std::optional<ArtImage> image = imageOf(response.body);
  if (!image) return failure(url, "the answer is not a JPEG, PNG or WebP image");
  return {ArtResult::Kind::kFound, std::make_shared<const ArtImage>(std::move(*image)), {}};
}

ArtworkClient::ArtworkClient(ArtworkServices services, Clock& clock)
    : services_(std::move(services)), clock_(clock) {}

ArtResult ArtworkClient::find(const ArtQuery& query, const StopSignal& stop) {
  const std::string terms = releaseQuery(query);
  if (terms.empty()) return {};
  const Verdict found = search(releaseSearchUrl(services_.musicBrainz, terms), stop);
  if (found.outcome == Outcome::kStopped) return {ArtResult::Kind::kStopped};
  if (found.outcome != Outcome::kDone) {
    return {ArtResult::Kind::kFailed, nullptr, platform::makeError("", found.message)};
  }
  for (const std::string& id : releaseIds(found.json)) {
    ArtResult art = front(id, stop);
    if (art.kind != ArtResult::Kind::kNone) return art;
  }
  return {};
}

// One search, tried again after MusicBrainz's own wait or the back-off's until it answers or
// the tries are spent. Every request keeps the spacing, tries again included.
Verdict ArtworkClient::search(const std::string& url, const StopSignal& stop) {
  const platform::HttpRequest request = getRequest(url);
  for (;;) {
    if (!clock_.waitUntil(spacing_.reserve(clock_.now()), stop)) break;
    Verdict verdict = exchange(request, judgeReleaseSearch, clock_, stop);
    if (verdict.outcome != Outcome::kRetry) {
      if (verdict.outcome == Outcome::kDone) backoff_.succeeded();
      return verdict;
    }
    const Seconds wait = backoff_.failed(verdict.wait);
    if (backoff_.givenUp()) {
      backoff_.succeeded();  // the next track tries afresh
      return verdict;
    }
    spacing_.holdUntil(clock_.after(wait));
  }
  Verdict stopped;
  stopped.outcome = Outcome::kStopped;
  return stopped;
}

// The release's front image, its redirects followed.
ArtResult ArtworkClient::front(const std::string& releaseId, const StopSignal& stop) {
  std::string url = std::string(withoutTrailingSlash(services_.coverArt)) + "/release/" +
                    releaseId + "/front-250";
  for (int hop = 0; hop <= kMaxArtRedirects; ++hop) {
    auto answer = sendUnlessStopped(getRequest(url), stop);
    if (!answer) return {ArtResult::Kind::kStopped};
    if (!*answer) return {ArtResult::Kind::kFailed, nullptr, answer->error()};
    const platform::HttpResponse& response = **answer;
    if (response.status < 300 || response.status >= 400) return judgeImage(response, url);
    const std::string location = response.header("Location");
    const std::optional<std::string> next = redirectTarget(url, location);
    if (!next) {
      return failure(url, "sends the request on to '" + platform::urlSubject(location) +
                              "', which is not followed");
    }
    url = *next;
  }
  return failure(url, "more than " + std::to_string(kMaxArtRedirects) + " redirects");
}
