// live's side of the cover art: the cache, the worker's lookups against mock services, the
// art in the JSON and at its path.
#include "live/artwork_lookup.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <tuple>

#include "../online/mock_http.h"
#include "cli/options.h"
#include "live/announcements.h"
#include "live/live_outputs.h"
#include "live/live_routes.h"
#include "online/discord.h"
#include "tests/online/fake_clock.h"

namespace {

// A JPEG's first bytes, or an image of `bytes` bytes.
KnownArt art(const std::string& path, std::size_t bytes = 0) {
  return std::make_shared<const ServedArt>(
      ServedArt{path, "image/jpeg", bytes ? std::string(bytes, 'x') : "\xFF\xD8\xFF"});
}

TEST(ArtCache, KeepsTheMostRecentlyUsedAndRemembersNoArt) {
  // (key, put: a path, "-" for no art; or find: "?"), what a find gives ("" unknown, "-" none)
  const std::pair<std::string, std::string> steps[][2] = {
      {{"a", "/art/1.jpg"}, {"a", "/art/1.jpg"}},
      {{"b", "-"}, {"b", "-"}},
      {{"a", "?"}, {"a", "/art/1.jpg"}},  // a is now the most recent: c pushes b out
      {{"c", "/art/2.png"}, {"b", ""}},
      {{"a", "?"}, {"a", "/art/1.jpg"}},
      {{"d", "-"}, {"c", ""}},
      {{"d", "?"}, {"d", "-"}},
      {{"a", "/art/3.jpg"}, {"a", "/art/3.jpg"}},
      {{"d", "?"}, {"d", "-"}},
  };
  ArtCache cache(2);
  for (const auto& [step, check] : steps) {
    if (step.second != "?") cache.put(step.first, step.second == "-" ? nullptr : art(step.second));
    const std::optional<KnownArt> found = cache.find(check.first);
    EXPECT_EQ(!found ? "" : (*found ? (*found)->path : "-"), check.second) << step.first;
  }
}

TEST(ArtCache, KeepsItsImagesWithinItsBytes) {
  // (key, image bytes; -1: no art), then the keys the cache still knows, the most recent first
  const std::pair<std::pair<std::string, int>, std::string> steps[] = {
      {{"a", 60}, "a"},      // 60 bytes
      {{"b", 30}, "b a"},    // 90 bytes
      {{"c", 30}, "c b"},    // 120 bytes: a, the least recently used, goes
      {{"d", -1}, "d c b"},  // no art takes no bytes
      {{"e", 150}, "e"},     // over the bytes alone: the newest stays, every other goes
      {{"e", 10}, "e"},      // the same key again counts its new image only
      {{"f", 90}, "f e"},
  };
  ArtCache cache(64, 100);
  for (const auto& [put, expected] : steps) {
    const auto& [key, bytes] = put;
    cache.put(key, bytes < 0 ? nullptr : art("/art/" + key, static_cast<std::size_t>(bytes)));
    for (const std::string k : {"a", "b", "c", "d", "e", "f"}) {
      if (expected.find(k) == std::string::npos) {
        EXPECT_FALSE(cache.find(k)) << key << ": " << k;
      }
    }
    // The known ones looked up least recent first, which leaves their order as it was.
    for (std::size_t i = expected.size() + 1; i >= 2; i -= 2) {
      EXPECT_TRUE(cache.find(expected.substr(i - 2, 1))) << key << ": " << expected;
    }
  }
}

TEST(ArtCache, TracksAreKnownByArtistAndAlbumOrSong) {
  const std::pair<Track, std::string> cases[] = {
      {{"Daft Punk", "One More Time", "Discovery"}, "daft punk\ndiscovery"},
      {{"DAFT PUNK", "Aerodynamic", "discovery"}, "daft punk\ndiscovery"},
      {{"Daft Punk", "One More Time", ""}, "daft punk\none more time"},
      {{"", "Song", "Album"}, ""},
      {{"Artist", "", ""}, ""},
  };
  for (const auto& [track, key] : cases) EXPECT_EQ(artKey(track), key);
}

TEST(LiveArt, OnlyTheHistoryKeepsItsArt) {
  const KnownArt album = art("/art/1.jpg");  // an album the set plays again and again
  std::vector<ShownTrack> set;
  for (std::size_t i = 0; i < kHistoryKept + 3; ++i) {
    set.push_back(ShownTrack{Deck::kLeft, {"A", "S" + std::to_string(i), ""}, "", ""});
    set.back().art = i % 2 ? album : art("/art/" + std::to_string(i + 2) + ".jpg");
    releaseArtBeyondHistory(set);
  }
  for (std::size_t i = 0; i < set.size(); ++i) EXPECT_EQ(set[i].art == nullptr, i < 3) << i;
  EXPECT_EQ(album.use_count(), 1 + static_cast<long>(kHistoryKept / 2));
}

TEST(LiveArt, TheJsonNamesTheArtAndTheServerServesIt) {
  ShownTrack shown{Deck::kRight, {"A", "S", "B"}, "2026-12-08T21:04:05", "A - S"};
  const std::string fields = R"("deck":"R","artist":"A","song":"S","album":"B",)"
                             R"("time":"2026-12-08T21:04:05","text":"A - S")";
  EXPECT_EQ(trackJson(shown), "{" + fields + "}");
  shown.artLookedUp = true;
  EXPECT_EQ(trackJson(shown), "{" + fields + R"(,"artwork":null})");
  shown.art = art("/art/7.jpg");
  EXPECT_EQ(nowPlayingJson(&shown, &shown), "{" + fields +
                                                R"(,"artwork":"/art/7.jpg","previous":{)" + fields +
                                                R"(,"artwork":"/art/7.jpg"}})");

  const LiveDocuments documents{"JSON", "TEXT", "SET", {}, {shown.art, art("/art/8.jpg")}};
  const std::vector<std::string> names = live::hostNames({});
  const live::Theme none;
  const live::Site site{"PAGE", documents, names, none};
  const std::pair<std::string, live::http::status> requests[] = {
      {"/art/7.jpg", live::http::status::ok},
      {"/art/8.jpg?t=1", live::http::status::ok},
      {"/art/9.jpg", live::http::status::not_found},
      {"/art/", live::http::status::not_found},
  };
  for (const auto& [path, status] : requests) {
    const live::Reply reply =
        live::answer("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n", site);
    EXPECT_EQ(reply.status, status) << path;
    if (status == live::http::status::ok) {
      EXPECT_EQ(reply.type, "image/jpeg");
      EXPECT_EQ(reply.body, "\xFF\xD8\xFF");
    }
  }
}

TEST(LiveArt, DiscordPostsShowTheArtWhenItIsKnownAndThereIsAPublicUrl) {
  // (the public URL as given, the track's art, the thumbnail posted; "" for none)
  const std::tuple<std::string, KnownArt, std::string> cases[] = {
      {"https://o.example", art("/art/3.jpg"), "https://o.example/art/3.jpg"},
      {"http://o.example:8040/live/", art("/art/4.png"), "http://o.example:8040/live/art/4.png"},
      {"https://o.example", nullptr, ""},
      {"", art("/art/3.jpg"), ""},
  };
  for (const auto& [url, known, thumbnail] : cases) {
    Arguments arguments(*findCommandDecl("live"));
    ASSERT_TRUE(arguments.set("--discord", {"chan"}).ok());
    if (!url.empty()) {
      ASSERT_TRUE(arguments.set("--public-url", {url}).ok());
    }
    AnnounceOptions options;
    ASSERT_TRUE(readAnnounceOptions(arguments, &options).ok()) << url;
    ShownTrack shown{Deck::kLeft, {"A", "S", "B"}, "2026-12-08T21:04:05", "A - S"};
    shown.art = known;
    const std::string body = discordPostBody(options, shown);
    EXPECT_EQ(body, discordMessageBody("Now playing: A - S", "", thumbnail)) << url;
  }
}

// What the worker tells, as the outputs get it.
struct Told {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::uint64_t, std::string>> found;  // ticket, path or "-"
  void add(std::uint64_t ticket, const KnownArt& art) {
    const std::lock_guard<std::mutex> lock(mutex);
    found.emplace_back(ticket, art ? art->path : "-");
    changed.notify_all();
  }
  std::vector<std::pair<std::uint64_t, std::string>> wait(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(10), [&] { return found.size() >= count; });
    return found;
  }
};

TEST(ArtworkLookup, LooksUpOnItsWorkerAndAsksOncePerAlbum) {
  const std::string search =
      R"({"releases":[{"id":"0a1b2c3d-0000-4000-8000-00000000000a","score":100}]})";
  MockHttp musicBrainz([&](const std::string& target) {
    const bool known = target.find("Discovery") != std::string::npos;
    return MockHttp::Reply{200, {}, known ? search : R"({"releases":[]})"};
  });
  MockHttp coverArt([](const std::string&) {
    return MockHttp::Reply{200, {}, "\x89PNG\r\n\x1A\n"};
  });
  FakeClock clock;
  Told told;
  ArtworkLookup lookup(
      {musicBrainz.root(), coverArt.root()}, "",
      [&](std::uint64_t ticket, KnownArt found) { told.add(ticket, found); }, clock);
  const Track discovery{"Daft Punk", "One More Time", "Discovery"};
  const Track homework{"Daft Punk", "Da Funk", "Homework"};
  EXPECT_FALSE(lookup.known(discovery));
  lookup.request(0, discovery);
  told.wait(1);
  lookup.request(1, homework);
  told.wait(2);
  lookup.request(2, {"daft punk", "Aerodynamic", "DISCOVERY"});  // from the cache
  const std::vector<std::pair<std::uint64_t, std::string>> expected = {
      {0, "/art/1.png"}, {1, "-"}, {2, "/art/1.png"}};
  EXPECT_EQ(told.wait(3), expected);
  EXPECT_EQ(musicBrainz.seen().size(), 2u);
  EXPECT_EQ(coverArt.seen().size(), 1u);
  ASSERT_TRUE(lookup.known(discovery) && *lookup.known(discovery));
  EXPECT_EQ((*lookup.known(discovery))->type, "image/png");
  EXPECT_TRUE(lookup.known(homework) && !*lookup.known(homework));
  EXPECT_TRUE(lookup.known({"", "No artist", ""}) && !*lookup.known({"", "No artist", ""}));
}

// A refusing service: every lookup fails after its three tries, the tracks go on without
// art, nothing is remembered, and stderr hears of it once.
TEST(ArtworkLookup, AFailureIsToldOnceAndRemembersNothing) {
  MockHttp busy([](const std::string&) { return MockHttp::Reply{503, {}, "busy"}; });
  FakeClock clock;
  Told told;
  testing::internal::CaptureStderr();
  {
    ArtworkLookup lookup(
        {busy.root(), busy.root()}, "",
        [&](std::uint64_t ticket, KnownArt found) { told.add(ticket, found); }, clock);
    const Track track{"Artist", "Song", "Album"};
    for (std::size_t ticket = 0; ticket < 3; ++ticket) {
      lookup.request(ticket, track);
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (busy.seen().size() < 3 * ticket + 1 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    EXPECT_GE(busy.seen().size(), 7u);  // the third lookup has begun: the second is over
    EXPECT_FALSE(lookup.known(track));
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(told.found.empty());
  EXPECT_NE(err.find("warning: " + busy.root() + "/ws/2/release/ answered HTTP 503: busy"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("; the overlay goes on without cover art\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("warning", err.find("warning") + 1), std::string::npos) << err;
}

// Two runs over one folder: the second finds the art and the no art of the first on disk
// and asks the services nothing. A folder that cannot be written is told once, and the art
// is still served.
TEST(ArtworkLookup, TheNextRunFindsTheArtOnDisk) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("zv-art-runs-" + std::to_string(stamp));
  std::filesystem::create_directories(base);
  std::ofstream(base / "file") << "x";
  const std::string search =
      R"({"releases":[{"id":"0a1b2c3d-0000-4000-8000-00000000000a","score":100}]})";
  MockHttp musicBrainz([&](const std::string& target) {
    const bool known = target.find("Discovery") != std::string::npos;
    return MockHttp::Reply{200, {}, known ? search : R"({"releases":[]})"};
  });
  MockHttp coverArt([](const std::string&) { return MockHttp::Reply{200, {}, "\xFF\xD8\xFF"}; });
  // (the folder, the requests the services have seen after the run)
  const std::pair<std::filesystem::path, std::size_t> runs[] = {
      {base / "art", 3}, {base / "art", 3}, {base / "file" / "art", 6}};
  for (const auto& [folder, seen] : runs) {
    FakeClock clock;
    Told told;
    testing::internal::CaptureStderr();
    {
      ArtworkLookup lookup(
          {musicBrainz.root(), coverArt.root()}, folder.string(),
          [&](std::uint64_t ticket, KnownArt found) { told.add(ticket, found); }, clock);
      lookup.request(0, {"Daft Punk", "One More Time", "Discovery"});
      told.wait(1);
      lookup.request(1, {"Daft Punk", "Da Funk", "Homework"});
      const std::vector<std::pair<std::uint64_t, std::string>> expected = {{0, "/art/1.jpg"},
                                                                           {1, "-"}};
      EXPECT_EQ(told.wait(2), expected) << folder;
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(musicBrainz.seen().size() + coverArt.seen().size(), seen) << folder;
    const bool unwritable = folder.parent_path() == base / "file";
    EXPECT_EQ(err.find("; cover art is kept in memory only\n") != std::string::npos, unwritable)
        << err;
    EXPECT_EQ(err.find("warning", err.find("warning") + 1), std::string::npos) << err;
  }
  std::filesystem::remove_all(base);
}

}  // namespace
