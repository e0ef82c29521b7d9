#include "live/artwork_lookup.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/ascii.h"
#include "platform/report.h"

std::string artKey(const Track& track) {
  const std::string& title = track.album.empty() ? track.song : track.album;
  if (track.artist.empty() || title.empty()) return "";
  return platform::asciiLower(track.artist) + '\n' + platform::asciiLower(title);
}

std::optional<KnownArt> ArtCache::find(const std::string& key) {
  const auto found = byKey_.find(key);
  if (found == byKey_.end()) return std::nullopt;
  entries_.splice(entries_.begin(), entries_, found->second);
  return found->second->second;
}

void ArtCache::put(const std::string& key, KnownArt art) {
  if (const auto old = byKey_.find(key); old != byKey_.end()) {
    entries_.erase(old->second);
    byKey_.erase(old);
  }
  entries_.emplace_front(key, std::move(art));
  byKey_[key] = entries_.begin();
  if (entries_.size() > capacity_) {
    byKey_.erase(entries_.back().first);
    entries_.pop_back();
  }
}

struct ArtworkLookup::State {
  std::mutex mutex;
  std::condition_variable wanted;
  ArtCache cache;
  std::optional<std::pair<std::uint64_t, Track>> pending;
  std::uint64_t images = 0;  // images found so far, which number their paths
  bool failing = false;      // a failure is told once, until a lookup works again
};

namespace {

KnownArt served(const ArtResult& result, std::uint64_t number) {
  if (!result.image) return nullptr;
  return std::make_shared<const ServedArt>(
      ServedArt{"/art/" + std::to_string(number) + "." + result.image->extension,
                result.image->type, result.image->bytes});
}

}  // namespace

// The next request, once there is one; nothing after 50 ms, so that a stop is seen.
std::optional<std::pair<std::uint64_t, Track>> ArtworkLookup::next(State& state) {
  std::unique_lock<std::mutex> lock(state.mutex);
  state.wanted.wait_for(lock, std::chrono::milliseconds(50),
                        [&state] { return state.pending.has_value(); });
  return std::exchange(state.pending, std::nullopt);
}

// The art of the track, from the cache or the services; nothing after a failure or a stop.
std::optional<KnownArt> ArtworkLookup::lookUp(State& state, ArtworkClient& client,
                                              const Track& track, const StopSignal& stop) {
  const std::string key = artKey(track);
  {
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (std::optional<KnownArt> art = state.cache.find(key)) return art;
  }
  const ArtResult result = client.find({track.artist, track.album, track.song}, stop);
  if (result.kind == ArtResult::Kind::kStopped) return std::nullopt;
  if (result.kind == ArtResult::Kind::kFailed) {
    if (!state.failing) {
      platform::reportWarning(platform::Error{
          0, result.error.subject, result.error.text + "; the overlay goes on without cover art"});
    }
    state.failing = true;
    return std::nullopt;
  }
  state.failing = false;
  KnownArt art = served(result, ++state.images);
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.cache.put(key, art);
  return art;
}

ArtworkLookup::ArtworkLookup(ArtworkServices services, Found found, Clock& clock)
    : state_(std::make_shared<State>()),
      worker_([state = state_, services = std::move(services), found = std::move(found),
               &clock](const StopSignal& stop) {
        ArtworkClient client(services, clock);
        while (!stop.requested()) {
          const std::optional<std::pair<std::uint64_t, Track>> wanted = next(*state);
          if (!wanted) continue;
          const std::optional<KnownArt> art = lookUp(*state, client, wanted->second, stop);
          if (art && !stop.requested()) found(wanted->first, *art);
        }
      }) {}

std::optional<KnownArt> ArtworkLookup::known(const Track& track) {
  const std::string key = artKey(track);
  if (key.empty()) return KnownArt{};
  const std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->cache.find(key);
}

void ArtworkLookup::request(std::uint64_t ticket, const Track& track) {
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->pending.emplace(ticket, track);
  }
  state_->wanted.notify_one();
}
