#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "live/chat_bot.h"
#include "online/irc.h"

namespace {

using std::chrono::seconds;

TEST(IrcLine, ReadsTagsPrefixCommandAndParameters) {
  struct Case {
    std::string line;
    std::string tags;  // name=value pairs joined with '|'
    std::string prefix;
    std::string command;
    std::vector<std::string> params;
  };
  const Case cases[] = {
      {"@badge-info=;display-name=Ronni;id=b34c\\:e\\s1\\\\x;mod=0 "
       ":ronni!ronni@ronni.tmi.twitch.tv "
       "PRIVMSG #dallas :!track please",
       "badge-info=|display-name=Ronni|id=b34c;e 1\\x|mod=0",
       "ronni!ronni@ronni.tmi.twitch.tv",
       "PRIVMSG",
       {"#dallas", "!track please"}},
      {"PING :tmi.twitch.tv", "", "", "PING", {"tmi.twitch.tv"}},
      {":tmi.twitch.tv RECONNECT", "", "tmi.twitch.tv", "RECONNECT", {}},
      {":tmi.twitch.tv NOTICE * :Login authentication failed",
       "",
       "tmi.twitch.tv",
       "NOTICE",
       {"*", "Login authentication failed"}},
      {":tmi.twitch.tv 001 bot :Welcome, GLHF!",
       "",
       "tmi.twitch.tv",
       "001",
       {"bot", "Welcome, GLHF!"}},
      {"@a=x\\;b;c=\\r\\n\\ :p CMD  one  two ::three",
       "a=x|b=|c=\r\n",
       "p",
       "CMD",
       {"one", "two", ":three"}},
      {"CMD :", "", "", "CMD", {""}},
      {"@;;=v;k=\\ CMD", "=v|k=", "", "CMD", {}},
  };
  for (const Case& c : cases) {
    const std::optional<IrcMessage> message = parseIrcLine(c.line);
    ASSERT_TRUE(message) << c.line;
    std::string tags;
    for (const auto& [name, value] : message->tags)
      tags += (tags.empty() ? "" : "|") + name + "=" + value;
    EXPECT_EQ(tags, c.tags) << c.line;
    EXPECT_EQ(message->prefix, c.prefix) << c.line;
    EXPECT_EQ(message->command, c.command) << c.line;
    EXPECT_EQ(message->params, c.params) << c.line;
  }
  for (const char* empty : {"", " ", "@a=b", ":prefix", "@a=b :prefix  "}) {
    EXPECT_FALSE(parseIrcLine(empty)) << empty;
  }
  EXPECT_EQ(parseIrcLine(":nick!u@h JOIN #c")->nick(), "nick");
  EXPECT_EQ(splitIrcLines("PING :a\r\n\r\nPONG :b\nX"),
            (std::vector<std::string_view>{"PING :a", "PONG :b", "X"}));
  EXPECT_EQ(escapeTagValue("a;b c\\d\r\n"), "a\\:b\\sc\\\\d\\r\\n");
}

TEST(ChatText, OneLineOfAtMostFiveHundredCharacters) {
  const std::string kanji = "\xE5\xAE\x87";      // 宇, three bytes
  const std::string emoji = "\xF0\x9F\x8E\xB5";  // 🎵, four bytes
  const std::string ellipsis = "\xE2\x80\xA6";
  auto repeat = [](const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"Artist - Song", "Artist - Song"},
      {"Two\r\nlines\nand\rthree\ttabs\x7F", "Two lines and three tabs "},
      {std::string("nul\0byte", 8), "nul byte"},
      {repeat("a", 500), repeat("a", 500)},
      {repeat("a", 501), repeat("a", 499) + ellipsis},
      {repeat(kanji, 500), repeat(kanji, 500)},
      {repeat(kanji, 499) + emoji + "x", repeat(kanji, 499) + ellipsis},
      {repeat(emoji, 600), repeat(emoji, 499) + ellipsis},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(chatText(text), expected) << text;
  EXPECT_EQ(privmsgLine("dj", "a\nb", "id;1 2"),
            "@reply-parent-msg-id=id\\:1\\s2 PRIVMSG #dj :a b");
  EXPECT_EQ(privmsgLine("dj", "x", ""), "PRIVMSG #dj :x");
}

// A chat driven by a made-up clock: each step is a time in seconds and what happens then.
struct Step {
  int at;
  std::string heard;              // a chat message in #dj, with its id "m<at>"; empty: none
  std::string shown;              // a new track on air; empty: none
  std::vector<std::string> sent;  // the lines the bot sends at that time, in order
};

void drive(ChatBotSettings settings, const std::vector<Step>& steps) {
  ChatBot bot(std::move(settings));
  const ChatBot::Clock::time_point start{};
  OnAirState state;
  for (const Step& step : steps) {
    const auto now = start + seconds(step.at);
    if (!step.shown.empty()) {
      state = {step.shown, state.now, state.shown + 1};
      bot.show(state);
    }
    if (!step.heard.empty()) {
      bot.hear(
          *parseIrcLine("@id=m" + std::to_string(step.at) + " :v!v@v PRIVMSG #dj :" + step.heard),
          now);
    }
    std::vector<std::string> sent;
    while (std::optional<std::string> line = bot.next(now)) sent.push_back(*line);
    EXPECT_EQ(sent, step.sent) << "at " << step.at << " s";
  }
}

TEST(ChatBot, AnswersCommandsOncePerCooldown) {
  drive({"dj", false, 10},
        {{0, "!track", "", {"@reply-parent-msg-id=m0 PRIVMSG #dj :nothing on air yet"}},
         {1, "", "宇多田ヒカル - First Love 🎵", {}},
         {2, "!TRACK now?", "", {}},  // within the cooldown of !track
         {3, "!song", "", {}},        // the same command
         {4,
          "!lasttrack",
          "",
          {"@reply-parent-msg-id=m4 PRIVMSG #dj :nothing before this track yet"}},
         {10, "!Song", "", {"@reply-parent-msg-id=m10 PRIVMSG #dj :宇多田ヒカル - First Love 🎵"}},
         {11, "", "소녀시대 - 다시 만난 세계", {}},
         {14,
          "!lasttrack",
          "",
          {"@reply-parent-msg-id=m14 PRIVMSG #dj :宇多田ヒカル - First Love 🎵"}},
         {15, "track", "", {}},
         {16, "say !track", "", {}},
         {17, "!tracks", "", {}}});
  drive({"dj", true, 0},
        {{0, "", "A - B", {"PRIVMSG #dj :Now playing: A - B"}},
         {1, "!track", "", {"@reply-parent-msg-id=m1 PRIVMSG #dj :A - B"}},
         {1, "!track", "", {"@reply-parent-msg-id=m1 PRIVMSG #dj :A - B"}},  // no cooldown
         {2, "", "C\nD", {"PRIVMSG #dj :Now playing: C D"}}});
}

TEST(ChatBot, SendsAtMostTwentyInThirtySecondsAndDropsAnnouncementsFirst) {
  ChatBot bot({"dj", true, 0});
  const ChatBot::Clock::time_point start{};
  OnAirState state;
  auto ask = [&](int at) {
    bot.hear(*parseIrcLine("@id=a" + std::to_string(at) + " PRIVMSG #dj :!track"),
             start + seconds(at));
  };
  auto announce = [&](const std::string& track) {
    state = {track, state.now, state.shown + 1};
    bot.show(state);
  };
  std::vector<std::pair<int, std::string>> sent;  // (second, line)
  auto sendUntil = [&](int second) {
    for (int at = 0; at <= second; ++at) {
      while (std::optional<std::string> line = bot.next(start + seconds(at)))
        sent.emplace_back(at, *line);
    }
  };
  // An announcement and 30 asks in the first 10 s: 20 go out as they come.
  announce("first");
  for (int i = 0; i < 30; ++i) {
    ask(i / 3);
    while (std::optional<std::string> line = bot.next(start + seconds(i / 3)))
      sent.emplace_back(i / 3, *line);
  }
  EXPECT_EQ(sent.size(), 20u);
  EXPECT_EQ(sent.front().second, "PRIVMSG #dj :Now playing: first");
  EXPECT_EQ(bot.nextTime(), start + seconds(31));
  // 11 replies wait; the queue holds 20: 9 announcements fill it, then a reply pushes the
  // oldest announcement out, and a further announcement pushes out the next.
  for (int i = 0; i < 9; ++i) announce("track " + std::to_string(i));
  ask(20);
  announce("last");
  sendUntil(90);
  std::vector<std::string> later;
  for (std::size_t i = 20; i < sent.size(); ++i) later.push_back(sent[i].second);
  ASSERT_EQ(later.size(), 20u);
  EXPECT_EQ(later[10], "@reply-parent-msg-id=a9 PRIVMSG #dj :first");
  EXPECT_EQ(later[11], "PRIVMSG #dj :Now playing: track 2");
  EXPECT_EQ(later[18], "@reply-parent-msg-id=a20 PRIVMSG #dj :track 8");
  EXPECT_EQ(later[19], "PRIVMSG #dj :Now playing: last");
  // Whatever happened, no 30-second window holds more than 20.
  for (std::size_t i = 0; i + kMessagesPerWindow < sent.size(); ++i) {
    EXPECT_GE(sent[i + kMessagesPerWindow].first - sent[i].first, 30) << i;
  }
  EXPECT_FALSE(bot.nextTime());
}

}  // namespace
