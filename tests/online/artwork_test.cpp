#include "online/artwork.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mock_http.h"
#include "tests/online/fake_clock.h"

namespace {

using Kind = ArtResult::Kind;
using namespace std::string_literals;
using Ms = std::chrono::milliseconds;

const std::string kJpeg = "\xFF\xD8\xFF\xE0 JFIF";
const std::string kPng = "\x89PNG\r\n\x1A\n....";
const std::string kId1 = "0a1b2c3d-0000-4000-8000-00000000000a";
const std::string kId2 = "0a1b2c3d-0000-4000-8000-00000000000b";

platform::HttpResponse response(int status, std::string body,
                                std::vector<platform::Header> headers = {}) {
  return {status, std::move(headers), std::move(body)};
}

TEST(Artwork, QueriesAreEscapedForLuceneAndTheUrl) {
  const std::pair<ArtQuery, std::string> cases[] = {
      {{"Daft Punk", "Discovery", "One More Time"},
       R"(artist:"Daft Punk" AND release:"Discovery")"},
      {{"AC/DC", "", "T.N.T."}, R"(artist:"AC\/DC" AND release:"T.N.T.")"},
      {{"a\"b\\c", "x:y+z-!(){}[]^~*?&|", ""},
       R"(artist:"a\"b\\c" AND release:"x\:y\+z\-\!\(\)\{\}\[\]\^\~\*\?\&\|")"},
      {{"", "Album", "Song"}, ""},
      {{"Artist", "", ""}, ""},
  };
  for (const auto& [query, expected] : cases) EXPECT_EQ(releaseQuery(query), expected);
  EXPECT_EQ(releaseSearchUrl("http://h:1//", R"(artist:"A B" AND release:"é&")"),
            "http://h:1/ws/2/release/"
            "?query=artist%3A%22A%20B%22%20AND%20release%3A%22%C3%A9%26%22&fmt=json&limit=5");
  EXPECT_TRUE(artworkUserAgent().starts_with(userAgent() + " ( "));
}

TEST(Artwork, TheSearchAnswerIsJudgedByItsBody) {
  struct Case {
    platform::Expected<platform::HttpResponse> answer;
    Outcome outcome;
    int wait;  // -1: none
    std::string message;
  };
  const Case cases[] = {
      {response(200, R"({"releases":[]})"), Outcome::kDone, -1, ""},
      {response(200, "<html>busy</html>"), Outcome::kRefused, -1, "answered HTTP 200: <html>"},
      {response(200, R"({"release-groups":[]})"), Outcome::kRefused, -1, "HTTP 200"},
      {response(503, "", {{"Retry-After", "7"}}), Outcome::kRetry, 7, "HTTP 503"},
      {response(503, "slow down"), Outcome::kRetry, -1, "slow down"},
      {response(429, ""), Outcome::kRetry, -1, "HTTP 429"},
      {response(400, R"({"error":"Invalid query"})"), Outcome::kRefused, -1,
       "MusicBrainz: Invalid query"},
      {response(301, "", {{"Location", "https://x/"}}), Outcome::kRefused, -1, "sends the request"},
      {platform::Error{111, "http://127.0.0.1:1", "Connection refused"}, Outcome::kRetry, -1,
       "Connection refused"},
  };
  for (const Case& c : cases) {
    const Verdict verdict = judgeAnswer(c.answer, judgeReleaseSearch, "http://mb/ws/2/release/", 0);
    EXPECT_EQ(verdict.outcome, c.outcome) << c.message;
    EXPECT_EQ(verdict.wait ? static_cast<int>(verdict.wait->count()) : -1, c.wait) << c.message;
    EXPECT_NE(verdict.message.find(c.message), std::string::npos) << verdict.message;
  }
}

TEST(Artwork, GoodMatchesAreTriedBestFirst) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {R"({"releases":[]})", {}},
      {"{\"releases\":[{\"id\":\"" + kId1 + "\",\"score\":100},{\"id\":\"" + kId2 + "\"}]}",
       {kId1, kId2}},
      {"{\"releases\":[{\"id\":\"" + kId1 + "\",\"score\":89},{\"id\":\"../x\",\"score\":100}]}",
       {}},
      {"{\"releases\":[{\"id\":\"" + kId1 + "\"},{\"id\":\"" + kId1 + "\"},{\"id\":\"" + kId1 +
           "\"},{\"id\":\"" + kId2 + "\"}]}",
       {kId1, kId1, kId1}},
  };
  for (const auto& [json, ids] : cases) EXPECT_EQ(releaseIds(*parseJson(json)), ids) << json;
}

TEST(Artwork, ImagesAreKnownByTheirFirstBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {kJpeg, "image/jpeg"},
      {kPng, "image/png"},
      {"RIFF\x10\0\0\0WEBPVP8 "s, "image/webp"},
      {"RIFF\x10\0\0\0WAVEfmt "s, ""},
      {"<html>", ""},
      {"\xFF\xD8", ""},
      {"", ""},
  };
  for (const auto& [bytes, type] : cases) {
    const std::optional<ArtImage> image = imageOf(bytes);
    EXPECT_EQ(image ? image->type : "", type);
    if (image) {
      EXPECT_EQ(image->bytes, bytes);
    }
  }
  const std::pair<platform::HttpResponse, std::string> answers[] = {
      {response(200, kJpeg), ""},
      {response(404, "Not found"), ""},
      {response(200, "<html>"), "the answer is not a JPEG, PNG or WebP image"},
      {response(200, kJpeg + std::string(kMaxArtBytes, 'x')), "the image is larger than 2 MB"},
      {response(500, "oops"), "answered HTTP 500: oops"},
  };
  for (const auto& [answer, failure] : answers) {
    const ArtResult result = judgeImage(answer, "http://caa/release/x/front-250?k=secret");
    EXPECT_EQ(result.kind, failure.empty() ? (answer.status == 404 ? Kind::kNone : Kind::kFound)
                                           : Kind::kFailed);
    EXPECT_EQ(result.error.text, failure);
    if (!failure.empty()) {
      EXPECT_EQ(result.error.subject, "http://caa/release/x/front-250");
    }
  }
}

TEST(Artwork, RedirectsAreFollowedWithinHttpAndNeverDownToIt) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"https://caa/release/1/front-250", "https://archive.org/1.jpg", "https://archive.org/1.jpg"},
      {"http://127.0.0.1:5/release/1?x", "/img/1.jpg", "http://127.0.0.1:5/img/1.jpg"},
      {"http://127.0.0.1:5?x", "/img/1.jpg", "http://127.0.0.1:5/img/1.jpg"},
      {"http://a/x", "//b:6/c", "http://b:6/c"},
      {"http://a/x", "https://b/y", "https://b/y"},
      {"https://a/x", "http://b/y", ""},
      {"http://a/x", "ftp://b/y", ""},
      {"http://a/x", "ws://b/y", ""},
      {"http://a/x", "img.jpg", ""},
      {"http://a/x", "", ""},
  };
  for (const auto& [from, location, target] : cases) {
    EXPECT_EQ(redirectTarget(from, location).value_or(""), target) << from << " " << location;
  }
}

TEST(Artwork, RequestsKeepTheirSpacing) {
  // (hold until, or -1 to ask for a request, at; the moment the request may go)
  const std::tuple<int, int, int> steps[] = {
      {-1, 0, 0},       {-1, 200, 1000},   {-1, 1500, 2000}, {-1, 5000, 5000},  {9000, 5100, -1},
      {-1, 6000, 9000}, {-1, 9100, 10000}, {9500, 9200, -1}, {-1, 9600, 11000},
  };
  RequestSpacing spacing(Ms(1000));
  const TimePoint zero{};
  for (const auto& [hold, at, expected] : steps) {
    if (hold >= 0) {
      spacing.holdUntil(zero + Ms(hold));
    } else {
      EXPECT_EQ(spacing.reserve(zero + Ms(at)) - zero, Ms(expected)) << at;
    }
  }
}

// MusicBrainz, the Cover Art Archive and an image host, each a mock on 127.0.0.1.
struct Services {
  std::vector<MockHttp::Reply> searches;           // in order; the last one repeats
  std::map<std::string, MockHttp::Reply> archive;  // by target; others 404
  std::size_t asked = 0;
  MockHttp images{[](const std::string&) { return MockHttp::Reply{200, {}, kJpeg}; }};
  MockHttp musicBrainz{
      [this](const std::string&) { return searches[std::min(asked++, searches.size() - 1)]; }};
  MockHttp coverArt{[this](const std::string& target) {
    const auto found = archive.find(target);
    return found != archive.end() ? found->second : MockHttp::Reply{404, {}, "Not Found"};
  }};
  ArtworkServices roots() const { return {musicBrainz.root(), coverArt.root() + "/"}; }
};

MockHttp::Reply releases(const std::vector<std::string>& ids) {
  std::string body = R"({"created":"2026-12-08T20:00:00Z","count":1,"releases":[)";
  for (const std::string& id : ids) {
    body += std::string(id == ids.front() ? "" : ",") + R"({"id":")" + id + R"(","score":100})";
  }
  return {200, {{"Content-Type", "application/json"}}, body + "]}"};
}

std::string front(const std::string& id) { return "/release/" + id + "/front-250"; }

TEST(Artwork, LookupsAgainstTheServices) {
  struct Case {
    std::string name;
    std::vector<MockHttp::Reply> searches;
    std::map<std::string, MockHttp::Reply> archive;  // "IMAGES" in a Location: the image host
    Kind kind;
    std::size_t searched;
    int seconds;  // waited in all
  };
  const MockHttp::Reply busy{503, {{"Retry-After", "7"}}, ""};
  const MockHttp::Reply jpeg{200, {}, kJpeg};
  const MockHttp::Reply moved{307, {{"Location", "IMAGES/i/1.jpg"}}, ""};
  const Case cases[] = {
      {"the archive's redirect", {releases({kId1})}, {{front(kId1), moved}}, Kind::kFound, 1, 0},
      {"Retry-After honoured", {busy, releases({kId1})}, {{front(kId1), jpeg}}, Kind::kFound, 2, 7},
      {"503 until the tries are spent", {{503, {}, ""}}, {}, Kind::kFailed, 3, 3},
      {"404, then the next release",
       {releases({kId1, kId2})},
       {{front(kId2), jpeg}},
       Kind::kFound,
       1,
       0},
      {"404 everywhere", {releases({kId1, kId2})}, {}, Kind::kNone, 1, 0},
      {"no release", {releases({})}, {{front(kId1), jpeg}}, Kind::kNone, 1, 0},
      {"not MusicBrainz", {{200, {}, "<html>"}}, {}, Kind::kFailed, 1, 0},
      {"a redirect loop",
       {releases({kId1})},
       {{front(kId1), {302, {{"Location", front(kId1)}}, ""}}},
       Kind::kFailed,
       1,
       0},
      {"not an image",
       {releases({kId1})},
       {{front(kId1), {200, {}, "<html>"}}},
       Kind::kFailed,
       1,
       0},
  };
  for (const Case& c : cases) {
    Services services;
    services.searches = c.searches;
    for (auto [target, reply] : c.archive) {
      for (auto& [name, value] : reply.headers) {
        if (value.starts_with("IMAGES")) value = services.images.root() + value.substr(6);
      }
      services.archive[target] = reply;
    }
    FakeClock clock;
    StopSignal stop;
    ArtworkClient client(services.roots(), clock);
    const ArtResult result = client.find({"Artist", "Album", ""}, stop);
    EXPECT_EQ(result.kind, c.kind) << c.name << ": " << result.error.text;
    EXPECT_EQ(result.kind == Kind::kFound, result.image != nullptr) << c.name;
    EXPECT_EQ(services.musicBrainz.seen().size(), c.searched) << c.name;
    EXPECT_EQ(clock.now() - TimePoint{}, Seconds(c.seconds)) << c.name;
    for (const MockHttp* mock : {&services.musicBrainz, &services.coverArt, &services.images}) {
      for (const MockHttp::Seen& seen : mock->seen()) EXPECT_EQ(seen.userAgent, artworkUserAgent());
    }
  }
}

// MusicBrainz's one request a second holds across lookups; the archive is not spaced.
TEST(Artwork, LookupsAreASecondApartAtMusicBrainz) {
  Services services;
  services.searches = {releases({kId1})};
  services.archive[front(kId1)] = {200, {}, kPng};
  FakeClock clock;
  StopSignal stop;
  ArtworkClient client(services.roots(), clock);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(client.find({"A", "", "Song"}, stop).kind, Kind::kFound);
  EXPECT_EQ(clock.now() - TimePoint{}, Seconds(2));
  const std::vector<MockHttp::Seen> seen = services.musicBrainz.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].target,
            "/ws/2/release/?query=artist%3A%22A%22%20AND%20release%3A%22Song%22&fmt=json&limit=5");
  stop.request();
  EXPECT_EQ(client.find({"A", "", "Song"}, stop).kind, Kind::kStopped);
}

}  // namespace
