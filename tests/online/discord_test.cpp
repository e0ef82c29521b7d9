#include "online/discord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setfile/text.h"

namespace {

using std::chrono::milliseconds;

platform::Expected<platform::HttpResponse> answer(int status, std::string body,
                                                  std::vector<platform::Header> headers = {}) {
  platform::HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  response.headers = std::move(headers);
  return response;
}

TEST(Discord, WebhookUrlsAreReadAndTheirTokensKeptOutOfMessages) {
  const struct {
    std::string url;
    std::string id;  // empty: refused
    std::string token;
  } cases[] = {
      {"https://discord.com/api/webhooks/123456/AbC-d_e.f", "123456", "AbC-d_e.f"},
      {" https://discordapp.com/api/v10/webhooks/42/tok/ \n", "42", "tok"},
      {"https://canary.discord.com/api/webhooks/42/tok?wait=true", "42", "tok"},
      {"http://127.0.0.1:8080/api/webhooks/7/t0k", "7", "t0k"},
      {"https://discord.com/api/webhooks/42", "", ""},
      {"https://discord.com/api/webhooks/4x2/tok", "", ""},
      {"https://discord.com/api/webhooks/42/to%20k", "", ""},
      {"https://discord.com/api/channels/42/tok", "", ""},
      {"wss://discord.com/api/webhooks/42/tok", "", ""},
      {"not a url", "", ""},
  };
  for (const auto& c : cases) {
    const auto webhook = parseWebhookUrl(c.url);
    EXPECT_EQ(webhook.ok() ? webhook->id : "", c.id) << c.url;
    EXPECT_EQ(webhook.ok() ? webhook->token : "", c.token) << c.url;
    if (!webhook) {
      EXPECT_EQ(webhook.error().text.find("tok"), std::string::npos);
    }
  }
  EXPECT_EQ(webhookUrl("http://h/api/", {"1", "t"}), "http://h/api/webhooks/1/t");
  EXPECT_EQ(hideWebhookUrl("http://h/api/webhooks/1/t: refused; http://h/api/webhooks/1/t",
                           "http://h/api/webhooks/1/t", "1"),
            "Discord webhook \xE2\x80\xA6/1: refused; Discord webhook \xE2\x80\xA6/1");
}

TEST(Discord, TitlesShowAsWrittenAndPingNoOne) {
  const std::pair<std::string, std::string> cases[] = {
      {"@everyone *bold* _it_ ~~s~~", "\\@everyone \\*bold\\* \\_it\\_ \\~\\~s\\~\\~"},
      {"`code` ||spoiler|| > quote", "\\`code\\` \\|\\|spoiler\\|\\| \\> quote"},
      {"# Head <@123> [x](https://e.x)", "\\# Head \\<\\@123\\> \\[x\\]\\(https\\://e\\.x\\)"},
      {"a\\b - c+d", "a\\\\b \\- c\\+d"},
      {"Line\nbreak\ttab\x7f", "Line break tab "},
      {"宇多田ヒカル 🎵", "宇多田ヒカル 🎵"},
      {"", ""},
  };
  for (const auto& [title, escaped] : cases) EXPECT_EQ(discordEscape(title), escaped) << title;
  EXPECT_EQ(discordMessageBody("a\"b", ""),
            R"({"content":"a\"b","allowed_mentions":{"parse":[]},"flags":4})");
  EXPECT_EQ(discordMessageBody("x", "DJ"),
            R"({"content":"x","username":"DJ","allowed_mentions":{"parse":[]},"flags":4})");
  EXPECT_EQ(discordMessageBody("x", "", "https://o.example/art/1.jpg"),
            R"({"content":"x","allowed_mentions":{"parse":[]},)"
            R"("embeds":[{"thumbnail":{"url":"https://o.example/art/1.jpg"}}]})");
}

TEST(Discord, MessagesSplitAtLineEndsKeepEveryCharacterInOrder) {
  std::string tracklist = "Title\n";
  for (int i = 0; i < 300; ++i) {
    tracklist += "00:" + std::to_string(10 + i % 50) + ":00 Artist " + std::to_string(i) +
                 " 🎵 - Song with a longish title ünïcödé\n";
  }
  const std::string long3000(3000, 'x');
  const std::string accents(1999, 'e');
  std::string wide;
  for (int i = 0; i < 2500; ++i) wide += "\xC3\xA9";  // é: 2 bytes, 1 character
  const struct {
    std::string text;
    std::size_t most;
    std::vector<std::size_t> lengths;  // characters of each message; empty: just checked
  } cases[] = {
      {"a\nb\nc\n", 3, {3, 1}},
      {"ab\ncd\n", 4, {2, 2}},
      {"\n\nab\n\n\ncd\n\n", 100, {7}},
      {"", 10, {}},
      {long3000 + "\nend\n", 2000, {2000, 1004}},
      {accents + "\n" + "x\n", 2000, {1999, 1}},
      {wide, 2000, {2000, 500}},
      {tracklist, 2000, {}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> messages = splitMessages(c.text, c.most);
    std::string joined;
    for (const std::string& message : messages) {
      EXPECT_LE(utf8Characters(message), c.most);
      EXPECT_TRUE(isUtf8(message));
      EXPECT_FALSE(message.empty());
      joined += message;
    }
    std::string kept = c.text;
    std::erase(kept, '\n');
    std::erase(joined, '\n');
    EXPECT_EQ(joined, kept);
    if (!c.lengths.empty() || c.text.empty()) {
      std::vector<std::size_t> lengths;
      for (const std::string& message : messages) lengths.push_back(utf8Characters(message));
      EXPECT_EQ(lengths, c.lengths) << c.text.substr(0, 20);
    }
  }
  // A line is never split when it fits: every message of the tracklist ends a line.
  for (const std::string& message : splitMessages(tracklist)) {
    EXPECT_NE(tracklist.find(message + "\n"), std::string::npos);
  }
}

TEST(Discord, ThePaceKeepsFiveInTwoSecondsAndWhatDiscordAsks) {
  const TimePoint t0{};
  const auto at = [&](int ms) { return t0 + milliseconds(ms); };
  Verdict spent;
  spent.headers = {{"x-ratelimit-remaining", "0"}, {"X-RateLimit-Reset-After", "1.250"}};
  Verdict plenty;
  plenty.headers = {{"X-RateLimit-Remaining", "4"}, {"X-RateLimit-Reset-After", "9"}};
  Verdict limited;  // a 429: {"retry_after": 0.3}
  limited.json = *parseJson(R"({"message":"You are being rate limited.","retry_after":0.3})");
  const struct {
    std::vector<int> sends;  // ms
    const Verdict* heard;    // after the last send, or none
    int next;                // ms
  } cases[] = {
      {{}, nullptr, 0},
      {{0, 100, 200, 300}, nullptr, 0},
      {{0, 100, 200, 300, 400}, nullptr, 2250},
      {{0, 100, 200, 300, 400, 2250}, nullptr, 2350},
      {{500}, &spent, 1750},
      {{500}, &plenty, 0},
      {{500}, &limited, 800},
      {{0, 100, 200, 300, 400}, &limited, 2250},
  };
  for (const auto& c : cases) {
    DiscordPace pace;
    for (const int send : c.sends) pace.sent(at(send));
    if (c.heard != nullptr) pace.heard(*c.heard, at(c.sends.back()));
    EXPECT_EQ(pace.nextAllowed(), at(c.next)) << c.next;
  }
  const std::pair<std::string, int> seconds[] = {{"0.457", 457},     {"2", 2000}, {"0.0004", 1},
                                                 {"99999", 3600000}, {"-1", -1},  {"", -1},
                                                 {"1s", -1}};
  for (const auto& [text, ms] : seconds) {
    const auto read = fractionalSeconds(text);
    EXPECT_EQ(read ? static_cast<int>(read->count()) : -1, ms) << text;
  }
}

TEST(Discord, EachAnswerHasOneVerdict) {
  const std::string message = R"({"id":"1180","content":"x"})";
  const struct {
    Judge judge;
    platform::Expected<platform::HttpResponse> answer;
    Outcome outcome;
    std::string words;  // part of the message
  } cases[] = {
      {judgeDiscordPost, answer(200, message), Outcome::kDone, ""},
      {judgeDiscordPost, answer(204, ""), Outcome::kRetry, "HTTP 204"},
      {judgeDiscordPost, answer(200, "<html>maintenance"), Outcome::kRetry, "maintenance"},
      {judgeDiscordPost, answer(404, R"({"message":"Unknown Webhook","code":10015})"),
       Outcome::kLoginAgain, "Unknown Webhook"},
      {judgeDiscordPost, answer(401, R"({"message":"Invalid Webhook Token"})"),
       Outcome::kLoginAgain, "Invalid Webhook Token"},
      {judgeDiscordPost, answer(429, R"({"retry_after":0.5,"global":false})"), Outcome::kRetry,
       "HTTP 429"},
      {judgeDiscordPost, answer(502, "Bad Gateway"), Outcome::kRetry, "Bad Gateway"},
      {judgeDiscordPost, answer(400, R"({"message":"Invalid Form Body","code":50035})"),
       Outcome::kRefused, "Invalid Form Body"},
      {judgeDiscordPost, platform::Error{111, "http://h", "Connection refused"}, Outcome::kRetry,
       "Connection refused"},
      {judgeDiscordWebhook, answer(200, R"({"id":"7","name":"Captain Hook","type":1})"),
       Outcome::kDone, ""},
      {judgeDiscordWebhook, answer(200, R"({"id":"7"})"), Outcome::kRefused, "HTTP 200"},
      {judgeDiscordWebhook, answer(404, R"({"message":"Unknown Webhook"})"), Outcome::kLoginAgain,
       "deleted"},
  };
  for (const auto& c : cases) {
    const Verdict verdict = judgeAnswer(c.answer, c.judge, "http://h/x", 0);
    EXPECT_EQ(verdict.outcome, c.outcome) << verdict.message;
    EXPECT_NE(verdict.message.find(c.words), std::string::npos) << verdict.message;
  }
}

}  // namespace
