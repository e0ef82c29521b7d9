#include "live/chat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "live/chat_bot.h"
#include "online/irc.h"
#include "setfile/text.h"

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
      // What Twitch would read as a command
      {"/me dances - Track 1", "\u266A /me dances - Track 1"},
      {" \n.ban x", "\u266A .ban x"},
      {repeat("/", 1) + repeat("a", 499), repeat("\u266A /", 1) + repeat("a", 496) + ellipsis},
      {"a/me", "a/me"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(chatText(text), expected) << text;
  EXPECT_EQ(privmsgLine("dj", "a\nb", "id;1 2"),
            "@reply-parent-msg-id=id\\:1\\s2 PRIVMSG #dj :a b");
  EXPECT_EQ(privmsgLine("dj", "x", ""), "PRIVMSG #dj :x");
}

TEST(ChatText, ServerTextReachesTheTerminalEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x1B]0;title\x07\x1B[2J\x1B"
       "c",
       "\\x1B]0;title\\x07\\x1B[2J\\x1B"
       "c"},
      {"CSI \xC2\x9B"
       "31m, NEL \xC2\x85",
       "CSI \\u009B31m, NEL \\u0085"},
      {"tab\tline\r\nDEL\x7F", "tab\\x09line\\x0D\\x0ADEL\\x7F"},
      {"not UTF-8 \xFF\xC2\x41 \xE5\xAE", "not UTF-8 \\xFF\\xC2A \\xE5\\xAE"},
      {"宇多田ヒカル \u00A0é 🎵 \\x", "宇多田ヒカル \u00A0é 🎵 \\x"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(printableText(text), expected) << expected;
}

// A chat driven by a made-up clock: each step is a time in seconds and what happens then.
struct Step {
  int at;
  std::string who;                // the viewer who speaks; empty: a line without a prefix
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
      const std::string prefix = step.who.empty() ? "" : ":" + step.who + "!u@h ";
      bot.hear(*parseIrcLine("@id=m" + std::to_string(step.at) + " " + prefix +
                             "PRIVMSG #dj :" + step.heard),
               now);
    }
    std::vector<std::string> sent;
    while (std::optional<std::string> line = bot.next(now)) sent.push_back(*line);
    EXPECT_EQ(sent, step.sent) << "at " << step.at << " s";
  }
}

std::string reply(int at, const std::string& text) {
  return "@reply-parent-msg-id=m" + std::to_string(at) + " PRIVMSG #dj :" + text;
}

TEST(ChatBot, AnswersCommandsOncePerCooldownNeverTwiceTheSameWithinThirtySeconds) {
  drive({"dj", false, 10},
        {{0, "v", "!track", "", {reply(0, "@v nothing on air yet")}},
         {1, "", "", "宇多田ヒカル - First Love 🎵", {}},
         {2, "v", "!TRACK now?", "", {}},  // within the cooldown of !track
         {3, "v", "!song", "", {}},        // the same command
         {4, "v", "!lasttrack", "", {reply(4, "@v nothing before this track yet")}},
         {10, "Ronni_2", "!Song", "", {reply(10, "@Ronni_2 宇多田ヒカル - First Love 🎵")}},
         {11, "", "", "소녀시대 - 다시 만난 세계", {}},
         {14, "v", "!lasttrack", "", {reply(14, "@v 宇多田ヒカル - First Love 🎵")}},
         {15, "v", "track", "", {}},
         {16, "v", "say !track", "", {}},
         {17, "v", "!tracks", "", {}},
         {21, "a.b", "!track", "", {reply(21, "소녀시대 - 다시 만난 세계")}}});  // not a login
  drive({"dj", true, 0},
        {{0, "", "", "A - B", {"PRIVMSG #dj :Now playing: A - B"}},
         {1, "v", "!track", "", {reply(1, "@v A - B")}},
         {2, "v", "!track", "", {}},  // the same text within 30 s: Twitch would drop it
         {3, "w", "!track", "", {reply(3, "@w A - B")}},
         {32, "v", "!track", "", {reply(32, "@v A - B")}},
         {33, "", "", "/me dances - Track 1", {"PRIVMSG #dj :Now playing: /me dances - Track 1"}},
         {34, "", "!track", "", {reply(34, "♪ /me dances - Track 1")}},
         {35, "", "", "A - B", {"PRIVMSG #dj :Now playing: A - B"}},
         {36, "", "", "C\nD", {"PRIVMSG #dj :Now playing: C D"}},
         {37, "", "", "A - B", {}}});  // announced 2 s ago
}

TEST(ChatBot, RepliesInAFullWindowNameTheTrackOnAirWhenSentAfterItsAnnouncement) {
  ChatBot bot({"dj", true, 0});
  const ChatBot::Clock::time_point start{};
  OnAirState state;
  auto show = [&](const std::string& track) {
    state = {track, state.now, state.shown + 1};
    bot.show(state);
  };
  auto viewer = [](char kind, int number) { return kind + std::to_string(number); };
  auto ask = [&](const std::string& who, int at) {
    bot.hear(*parseIrcLine("@id=" + who + " :" + who + "!u@h PRIVMSG #dj :!track"),
             start + seconds(at));
  };
  auto sendAt = [&](int at) {
    std::vector<std::string> sent;
    while (std::optional<std::string> line = bot.next(start + seconds(at))) sent.push_back(*line);
    return sent;
  };
  // An announcement and 19 replies fill the window at 0 s.
  show("A");
  for (int i = 0; i < 19; ++i) ask(viewer('v', i), 0);
  ASSERT_EQ(sendAt(0).size(), kMessagesPerWindow);
  // 25 asks at 5 s: the queue keeps the newest 20. A new track's announcement pushes out
  // the oldest reply, and the next one replaces it, as its track is over.
  for (int i = 0; i < 25; ++i) ask(viewer('w', i), 5);
  EXPECT_TRUE(sendAt(5).empty());
  show("B");
  show("C");
  EXPECT_TRUE(sendAt(30).empty());
  EXPECT_FALSE(bot.next(start + seconds(31) - std::chrono::milliseconds(1)));
  std::vector<std::string> expected = {"PRIVMSG #dj :Now playing: C"};
  for (int i = 6; i < 25; ++i) {
    const std::string who = viewer('w', i);
    expected.push_back("@reply-parent-msg-id=" + who + " PRIVMSG #dj :@" + who + " C");
  }
  EXPECT_EQ(sendAt(31), expected);
  // The window is full again until 62 s: of two new tracks, the one on air is announced.
  show("D");
  show("E");
  for (int i = 0; i < 10; ++i) ask(viewer('x', i), 40);
  EXPECT_TRUE(sendAt(40).empty());
  const std::vector<std::string> sent = sendAt(62);
  ASSERT_EQ(sent.size(), 11u);
  EXPECT_EQ(sent[0], "PRIVMSG #dj :Now playing: E");
  EXPECT_EQ(sent[10], "@reply-parent-msg-id=x9 PRIVMSG #dj :@x9 E");
}

TEST(ChatLines, RepeatsWithinAMinuteAreCountedAndSummedUpAfterIt) {
  const std::chrono::steady_clock::time_point start{};
  const struct {
    int at;
    std::string line;
    std::string told;  // empty: held back
  } cases[] = {
      {0, "reconnecting in 1 s", "reconnecting in 1 s"},
      {1, "reconnecting in 2 s", "reconnecting in 2 s"},
      {3, "reconnecting in 4 s", "reconnecting in 4 s"},
      {7, "reconnecting in 8 s", ""},
      {8, "joined #dj", "joined #dj"},  // another kind
      {15, "reconnecting in 16 s", ""},
      {60, "reconnecting in 32 s", "reconnecting in 32 s (5 times in the last minute)"},
      {92, "reconnecting in 60 s", "reconnecting in 60 s"},   // the second of a new minute
      {300, "reconnecting in 60 s", "reconnecting in 60 s"},  // none was held
  };
  RepeatedLines lines;
  for (const auto& c : cases) {
    EXPECT_EQ(lines.pass(c.line, start + seconds(c.at)).value_or(""), c.told) << c.at << " s";
  }
}

TEST(ChatAccount, TheOneNamedTwitchElseTheOnlyTwitchAccount) {
  auto account = [](std::string name, std::string service) {
    return Account{std::move(name), std::move(service), "", "", {{"access_token", "a"}}};
  };
  const Account noToken{"twitch", "twitch", "", "", {}};
  const struct {
    std::vector<Account> accounts;
    std::string picked;  // the account's name, or the start of the error
  } cases[] = {
      {{account("lastfm", "lastfm"), account("twitch", "twitch")}, "twitch"},
      {{account("bot", "twitch"), account("twitch", "twitch")}, "twitch"},
      {{account("mixcloud", "mixcloud"), account("bot", "twitch")}, "bot"},
      {{account("bot", "twitch"), account("other", "twitch")},
       "several Twitch accounts (bot, other) and none named twitch"},
      {{account("twitch", "lastfm"), noToken}, "no Twitch account for --twitch"},
      {{}, "no Twitch account for --twitch"},
  };
  for (const auto& c : cases) {
    const platform::Expected<Account> picked = chatAccount(c.accounts, "accounts.json");
    if (picked) {
      EXPECT_EQ(picked->name, c.picked);
      continue;
    }
    EXPECT_EQ(picked.error().subject, "accounts.json");
    EXPECT_EQ(picked.error().text.substr(0, c.picked.size()), c.picked);
  }
}

}  // namespace
