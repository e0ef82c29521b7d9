#include "online/kick.h"

#include <gtest/gtest.h>

#include <string>

#include "online/oauth.h"
#include "setfile/text.h"

namespace {

platform::Expected<platform::HttpResponse> answer(int status, std::string body) {
  platform::HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

TEST(Kick, PkceChallengesAreTheBase64UrlOfTheVerifiersSha256) {
  const std::pair<std::string, std::string> base64[] = {
      {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "-_8"},
  };
  for (const auto& [bytes, text] : base64) EXPECT_EQ(base64Url(bytes), text) << text;
  // RFC 7636, appendix B.
  EXPECT_EQ(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  const Pkce first = newPkce();
  const Pkce second = newPkce();
  EXPECT_EQ(first.verifier.size(), 64u);
  EXPECT_EQ(first.verifier.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"),
            std::string::npos);
  EXPECT_EQ(first.challenge, pkceChallenge(first.verifier));
  EXPECT_NE(first.verifier, second.verifier);
}

TEST(Kick, MessagesAreOneLineOfAtMost500Characters) {
  const std::string fits(500, 'a');
  std::string notes;
  for (int i = 0; i < 600; ++i) notes += "\xF0\x9F\x8E\xB5";  // 🎵, 4 bytes
  const struct {
    std::string text;
    std::size_t characters;
    std::string start;
  } cases[] = {
      {"Now playing: A - B", 18, "Now playing: A - B"},
      {"a\r\nb\tc\x1b[2J\xC2\x9B", 11, "a  b c [2J "},
      {fits, 500, fits},
      {fits + "b", 500, std::string(499, 'a') + "\xE2\x80\xA6"},
      {notes, 500, "\xF0\x9F\x8E\xB5"},
  };
  for (const auto& c : cases) {
    const std::string message = kickText(c.text);
    EXPECT_EQ(utf8Characters(message), c.characters) << c.text.substr(0, 20);
    EXPECT_TRUE(isUtf8(message));
    EXPECT_EQ(message.rfind(c.start, 0), 0u) << message.substr(0, 20);
  }
  EXPECT_EQ(kickChatBody("say \"hi\""), R"({"type":"bot","content":"say \"hi\""})");
}

TEST(Kick, EachAnswerHasOneVerdict) {
  const struct {
    Judge judge;
    platform::Expected<platform::HttpResponse> answer;
    Outcome outcome;
    std::string words;
  } cases[] = {
      {judgeKickChat, answer(200, R"({"data":{"is_sent":true,"message_id":"m1"},"message":"OK"})"),
       Outcome::kDone, ""},
      {judgeKickChat, answer(200, R"({"data":{"is_sent":false},"message":"OK"})"), Outcome::kRetry,
       "HTTP 200"},
      {judgeKickChat, answer(200, "<html>"), Outcome::kRetry, "<html>"},
      {judgeKickChat, answer(401, R"({"message":"Unauthorized"})"), Outcome::kLoginAgain,
       "Unauthorized"},
      {judgeKickChat, answer(429, R"({"message":"Too Many Requests"})"), Outcome::kRetry, "429"},
      {judgeKickChat, answer(503, ""), Outcome::kRetry, "an empty answer"},
      {judgeKickChat, answer(403, R"({"message":"missing scope chat:write"})"), Outcome::kRefused,
       "chat:write"},
      {judgeKickUser, answer(200, R"({"data":[{"user_id":7,"name":"djk"}],"message":"OK"})"),
       Outcome::kDone, ""},
      {judgeKickUser, answer(200, R"({"data":[],"message":"OK"})"), Outcome::kRefused, "HTTP 200"},
      {judgeKickUser, answer(401, R"({"message":"Unauthorized"})"), Outcome::kRefused,
       "not taken: Unauthorized"},
  };
  for (const auto& c : cases) {
    const Verdict verdict = judgeAnswer(c.answer, c.judge, "http://h/x", 0);
    EXPECT_EQ(verdict.outcome, c.outcome) << verdict.message;
    EXPECT_NE(verdict.message.find(c.words), std::string::npos) << verdict.message;
  }
  // A 429 is waited out as Kick tells.
  auto limited = answer(429, R"({"message":"Too Many Requests"})");
  limited->headers = {{"Retry-After", "7"}};
  EXPECT_EQ(judgeAnswer(limited, judgeKickChat, "http://h/x", 0).wait, Seconds(7));
}

}  // namespace
