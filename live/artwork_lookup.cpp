#include "live/artwork_lookup.h"

#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <utility>

#include "live/art_folder.h"
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

namespace {

std::size_t bytesOf(const KnownArt& art) { return art ? art->bytes.size() : 0; }

}  // namespace

void ArtCache::forget(std::list<std::pair<std::string, KnownArt>>::iterator entry) {
  bytes_ -= bytesOf(entry->second);
  byKey_.erase(entry->first);
  entries_.erase(entry);
}

void ArtCache::put(const std::string& key, KnownArt art) {
  if (const auto old = byKey_.find(key); old != byKey_.end()) forget(old->second);
  bytes_ += bytesOf(art);
  entries_.emplace_front(key, std::move(art));
  byKey_[key] = entries_.begin();
  while (entries_.size() > 1 && (entries_.size() > maxEntries_ || bytes_ > maxBytes_))
    forget(std::prev(entries_.end()));
}

struct ArtworkLookup::State {
  std::mutex mutex;
  std::condition_variable wanted;
  ArtCache cache;
  std::optional<std::pair<std::uint64_t, Track>> pending;
  // The worker's own: the folder on disk, and what it has told.
  std::optional<ArtFolder> folder;
  std::uint64_t images = 0;  // images found so far, which number their paths
  bool failing = false;      // a failure is told once, until a lookup works again
  bool diskTold = false;     // a folder that cannot be written is told once
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

// Tells `found` the track's art from memory, the folder or the services (nothing after a
// failure or a stop), then keeps what the services found on disk.
void ArtworkLookup::answer(State& state, ArtworkClient& client, const Found& found,
                           std::uint64_t ticket, const Track& track, const StopSignal& stop) {
  const std::string key = artKey(track);
  std::optional<KnownArt> art = remembered(state, key);
  std::optional<ArtResult> fresh;
  if (!art) {
    fresh = lookUp(state, client, track, stop);
    if (fresh) art = remember(state, key, *fresh);
  }
  if (art && !stop.requested()) found(ticket, *art);
  if (fresh) keepOnDisk(state, key, *fresh);
}

// What the memory cache or else the folder knows of the key's art.
std::optional<KnownArt> ArtworkLookup::remembered(State& state, const std::string& key) {
  {
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (std::optional<KnownArt> art = state.cache.find(key)) return art;
  }
  if (!state.folder) return std::nullopt;
  const std::optional<ArtResult> kept = state.folder->find(key);
  if (!kept) return std::nullopt;
  return remember(state, key, *kept);
}

// The art of the track from the services; nothing after a failure or a stop.
std::optional<ArtResult> ArtworkLookup::lookUp(State& state, ArtworkClient& client,
                                               const Track& track, const StopSignal& stop) {
  ArtResult result = client.find({track.artist, track.album, track.song}, stop);
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
  return result;
}

// The art as served, now in the memory cache.
KnownArt ArtworkLookup::remember(State& state, const std::string& key, const ArtResult& result) {
  KnownArt art = served(result, ++state.images);
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.cache.put(key, art);
  return art;
}

void ArtworkLookup::keepOnDisk(State& state, const std::string& key, const ArtResult& result) {
  if (!state.folder) return;
  const platform::Status kept = state.folder->keep(key, result);
  if (kept || state.diskTold) return;
  state.diskTold = true;
  platform::reportWarning(platform::Error{
      0, kept.error().subject, kept.error().text + "; cover art is kept in memory only"});
}

ArtworkLookup::ArtworkLookup(ArtworkServices services, std::string folder, Found found,
                             Clock& clock)
    // The folder is set before the worker starts, which reads it.
    : state_([&folder] {
        auto state = std::make_shared<State>();
        if (!folder.empty()) state->folder.emplace(std::move(folder));
        return state;
      }()),
      worker_([state = state_, services = std::move(services), found = std::move(found),
               &clock](const StopSignal& stop) {
        ArtworkClient client(services, clock);
        while (!stop.requested()) {
          const std::optional<std::pair<std::uint64_t, Track>> wanted = next(*state);
          if (wanted) answer(*state, client, found, wanted->first, wanted->second, stop);
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
