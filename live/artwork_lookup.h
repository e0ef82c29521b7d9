// Cover art for setlist live --artwork: what was found is remembered in a small cache (art
// and no art alike, so that a replayed album costs nothing) and in a folder on disk for the
// next runs (art_folder.h), and what is not known yet is looked up by a worker of its own,
// so that neither the poll nor the server ever waits for a service or the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "live/live_texts.h"
#include "online/artwork.h"
#include "online/request.h"
#include "online/worker.h"
#include "setfile/track.h"

// What the cache and the lookups know of a track's art: an image, or null for none.
using KnownArt = std::shared_ptr<const ServedArt>;

// The tracks whose art the cache keeps, and the most its images take together, the least
// recently used out first. A track's art that the memory lets go is read back from the
// folder on disk by the worker.
constexpr std::size_t kArtCacheEntries = 64;
constexpr std::size_t kArtCacheBytes = 2 * 1024 * 1024;

// What the art of a track is looked up and remembered by: the artist and the album (the
// song without one), in ASCII lower case; empty when there is nothing to look up.
std::string artKey(const Track& track);

class ArtCache {
 public:
  explicit ArtCache(std::size_t entries = kArtCacheEntries, std::size_t bytes = kArtCacheBytes)
      : maxEntries_(entries), maxBytes_(bytes) {}
  // What is known for the key, now the most recently used; nothing when it was not looked up.
  std::optional<KnownArt> find(const std::string& key);
  // Remembers the key's art; the newest stays even when its image alone is over the bytes.
  void put(const std::string& key, KnownArt art);

 private:
  void forget(std::list<std::pair<std::string, KnownArt>>::iterator entry);

  std::size_t maxEntries_;
  std::size_t maxBytes_;
  std::size_t bytes_ = 0;                                // of the images kept
  std::list<std::pair<std::string, KnownArt>> entries_;  // the most recently used first
  std::map<std::string, decltype(entries_)::iterator> byKey_;
};

class ArtworkLookup {
 public:
  // Called on the worker's thread with a request's ticket and the art found (null: none).
  using Found = std::function<void(std::uint64_t ticket, KnownArt art)>;
  // `folder` keeps the art across runs (empty: none). A folder that cannot be written is
  // told once on stderr; the art is still served from memory.
  ArtworkLookup(ArtworkServices services, std::string folder, Found found,
                Clock& clock = systemClock());

  // What the memory cache knows of the track's art (null: none); nothing when it is to be
  // looked up (the folder is read by the worker, never by the caller).
  std::optional<KnownArt> known(const Track& track);
  // Looks the track's art up and tells `found` with the ticket. A request that the worker
  // has not begun is replaced by the next one: only the track on air matters.
  void request(std::uint64_t ticket, const Track& track);

 private:
  struct State;
  static std::optional<std::pair<std::uint64_t, Track>> next(State& state);
  static void answer(State& state, ArtworkClient& client, const Found& found, std::uint64_t ticket,
                     const Track& track, const StopSignal& stop);
  static std::optional<KnownArt> remembered(State& state, const std::string& key);
  static std::optional<ArtResult> lookUp(State& state, ArtworkClient& client, const Track& track,
                                         const StopSignal& stop);
  static KnownArt remember(State& state, const std::string& key, const ArtResult& result);
  static void keepOnDisk(State& state, const std::string& key, const ArtResult& result);

  std::shared_ptr<State> state_;
  Worker worker_;
};
