#include "online/scrobbling.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "online/json.h"

namespace {

std::vector<Listen> listens(std::size_t count, std::size_t textSize = 5) {
  std::vector<Listen> all;
  for (std::size_t i = 0; i < count; ++i) {
    Listen listen;
    listen.at = 1'796'000'000 + static_cast<std::int64_t>(i) * 180;
    listen.deck = i % 2 ? Deck::kRight : Deck::kLeft;
    listen.track = {std::string(textSize, 'a') + std::to_string(i), "Song \"" + std::to_string(i),
                    i % 3 ? "Album" : ""};
    all.push_back(listen);
  }
  return all;
}

TEST(Scrobbling, ListenBrainzRequestsKeepTheLimitsAndAreJson) {
  struct Case {
    std::size_t count, textSize;
    std::vector<std::size_t> batches;
  };
  const Case cases[] = {
      {2500, 5, {1000, 1000, 500}},
      {1, 5, {1}},
      // About 12,200 bytes a listen: 10,240,000 bytes end each request before 1000
      // listens (the batches are checked to be full below).
      {1500, 12000, {}},
  };
  for (const Case& c : cases) {
    const std::vector<Listen> all = listens(c.count, c.textSize);
    std::vector<std::size_t> batches;
    std::string body;
    for (std::size_t first = 0; first < all.size();) {
      const std::size_t taken = listenBrainzBody(all, first, "1.0", &body);
      ASSERT_GT(taken, 0u);
      EXPECT_LE(body.size(), kListenBrainzMostBytes);
      const auto json = parseJson(body);
      ASSERT_TRUE(json) << json.error().text;
      EXPECT_EQ((*json)["listen_type"].string(), "import");
      const auto& payload = (*json)["payload"].array();
      ASSERT_EQ(payload.size(), taken);
      const JsonValue& last = payload.back();
      EXPECT_EQ(last["listened_at"].string(), std::to_string(all[first + taken - 1].at));
      EXPECT_EQ(last["track_metadata"]["track_name"].string(), all[first + taken - 1].track.song);
      EXPECT_EQ(last["track_metadata"]["release_name"].isNull(),
                all[first + taken - 1].track.album.empty());
      EXPECT_EQ(last["track_metadata"]["additional_info"]["submission_client_version"].string(),
                "1.0");
      batches.push_back(taken);
      first += taken;
      // Each request but the last is full: by count, or the next listen would not fit.
      if (first < all.size() && taken < kListenBrainzMostListens) {
        EXPECT_GT(body.size() + c.textSize, kListenBrainzMostBytes);
      }
    }
    if (!c.batches.empty()) {
      EXPECT_EQ(batches, c.batches);
    } else {
      EXPECT_LT(batches[0], kListenBrainzMostListens);  // the byte limit cut it
    }
  }
}

TEST(Scrobbling, LastfmBatchesOfFiftyAndTheSignature) {
  const std::vector<Listen> all = listens(120);
  std::vector<std::size_t> batches;
  std::vector<platform::Header> fields;
  for (std::size_t first = 0; first < all.size();) {
    const std::size_t taken = lastfmScrobbleFields(all, first, "KEY", "SK", &fields);
    batches.push_back(taken);
    first += taken;
  }
  EXPECT_EQ(batches, (std::vector<std::size_t>{50, 50, 20}));
  // The last batch: method, api_key, sk, then 20 listens of which 6 have no album.
  EXPECT_EQ(fields.size(), 3u + 20 * 3 + 14);
  EXPECT_EQ(fields[3].name, "artist[0]");
  EXPECT_EQ(fields[5].value, std::to_string(all[100].at));

  // The worked example of Last.fm's authentication documentation (auth.getSession).
  const std::vector<platform::Header> example = {{"token", "xxxxxxx"},
                                                 {"format", "json"},
                                                 {"api_key", "xxxxxxxx"},
                                                 {"method", "auth.getSession"}};
  const std::string base = lastfmSignatureBase(example, "mysecret");
  EXPECT_EQ(base, "api_keyxxxxxxxxmethodauth.getSessiontokenxxxxxxxmysecret");
  EXPECT_EQ(platform::md5Hex(base), "68afb32bee072407a63b6c41f3e1e2b4");
}

TEST(Scrobbling, SentFileReadsBackWhatWasWritten) {
  Listen odd;
  odd.at = -5;
  odd.deck = Deck::kRight;
  odd.track = {"Tab\there\\", "Line\nend\r", "Ünïcode 東京"};
  const Listen plain = listens(1)[0];
  const std::string contents = "# header\n" + formatSentLine("lb", odd) + "\n" +
                               formatSentLine("lastfm", plain) + "\n" +
                               "lb\t12\tX\ta\tb\tc\n"        // deck
                               "lb\t1x\tL\ta\tb\tc\n"        // time
                               "lb\t12\tL\ta\\q\tb\tc\n"     // escape
                               "lb\t12\tL\ta\tb\n"           // five fields
                               "lb\t12\tL\ta\tb\tc\td\n"     // seven
                               "l\rb\t12\tL\ta\tb\tc\n" +    // account name
                               formatSentLine("lb", plain);  // cut short
  const SentListens sent = parseSentFile(contents);
  EXPECT_EQ(sent.accepted.size(), 2u);
  EXPECT_TRUE(sent.has("lb", odd));
  EXPECT_TRUE(sent.has("lastfm", plain));
  EXPECT_FALSE(sent.has("lb", plain));
  EXPECT_EQ(sent.badLines, 6u);
  EXPECT_FALSE(sent.endsInLineEnd);
  EXPECT_EQ(sentFileBeside("a/Playlist_1.txt"), "a/Playlist_1.scrobbled");
  EXPECT_EQ(sentFileBeside("a/Playlist_1.jsonl"), "a/Playlist_1.scrobbled");
}

}  // namespace
