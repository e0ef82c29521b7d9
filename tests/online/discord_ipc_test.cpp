// The Discord app's local protocol as plain functions: frames, Discord's messages, the
// status texts and the SET_ACTIVITY command.
#include "online/discord_ipc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using Kind = IpcMessage::Kind;

TEST(DiscordIpc, FramesHaveALittleEndianHeader) {
  EXPECT_EQ(encodeIpcFrame(IpcOpcode::kFrame, "{}"), "\x01\0\0\0\x02\0\0\0{}"s);
  EXPECT_EQ(encodeIpcFrame(IpcOpcode::kHandshake, std::string(258, 'x')).substr(0, 8),
            "\0\0\0\0\x02\x01\0\0"s);
  struct Case {
    std::string bytes;
    bool read;
    IpcOpcode opcode;
    std::uint32_t length;
  };
  const Case cases[] = {
      {"\x02\0\0\0\x10\0\0\0"s, true, IpcOpcode::kClose, 16},
      {"\x04\0\0\0\0\0\x01\0{"s, true, IpcOpcode::kPong, kLongestIpcPayload},
      {"\x03\0\0\0\x01\0\x01\0"s, false, {}, 0},  // over the longest payload
      {"\x05\0\0\0\0\0\0\0"s, false, {}, 0},      // no opcode of Discord's
      {"\x01\0\0\x01\0\0\0\0"s, false, {}, 0},    // the opcode's high byte
      {"\x01\0\0\0\0\0\0\xFF"s, false, {}, 0},    // a length of gigabytes
      {"\x01\0\0\0\0\0\0"s, false, {}, 0},        // seven bytes
  };
  for (const Case& c : cases) {
    const std::optional<IpcHeader> header = decodeIpcHeader(c.bytes);
    ASSERT_EQ(header.has_value(), c.read) << testing::PrintToString(c.bytes);
    if (!c.read) continue;
    EXPECT_EQ(header->opcode, c.opcode);
    EXPECT_EQ(header->length, c.length);
  }
}

TEST(DiscordIpc, ReadsWhatDiscordSays) {
  struct Case {
    IpcOpcode opcode;
    std::string payload;
    Kind kind;
    std::string nonce;
    std::string text;
  };
  const Case cases[] = {
      {IpcOpcode::kFrame,
       R"({"cmd":"DISPATCH","data":{"v":1,"user":{"id":"9","username":"djane"}},"evt":"READY","nonce":null})",
       Kind::kReady, "", "djane"},
      {IpcOpcode::kFrame,
       R"({"cmd":"DISPATCH","evt":"READY","data":{"user":{"username":"dj","global_name":"DJ Ane"}}})",
       Kind::kReady, "", "DJ Ane"},
      {IpcOpcode::kFrame, R"({"cmd":"SET_ACTIVITY","data":{},"evt":null,"nonce":"7"})",
       Kind::kAnswer, "7", ""},
      {IpcOpcode::kFrame,
       R"({"cmd":"SET_ACTIVITY","evt":"ERROR","nonce":"8","data":{"code":4000,"message":"bad"}})",
       Kind::kRefusal, "8", "4000: bad"},
      {IpcOpcode::kClose, R"({"code":4000,"message":"Invalid Client ID"})", Kind::kClosed, "",
       "4000: Invalid Client ID"},
      {IpcOpcode::kClose, "not json", Kind::kClosed, "", "no reason given"},
      {IpcOpcode::kPing, "\x01\xFF", Kind::kPing, "", "\x01\xFF"},
      // What a status setter passes over.
      {IpcOpcode::kFrame, R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN","data":{}})", Kind::kOther, "",
       ""},
      {IpcOpcode::kFrame, R"({"cmd":"SET_ACTIVITY","evt":null})", Kind::kOther, "", ""},
      {IpcOpcode::kFrame, R"(["READY"])", Kind::kOther, "", ""},
      {IpcOpcode::kFrame, "{\"evt\":\"READY", Kind::kOther, "", ""},
      {IpcOpcode::kPong, R"({"cmd":"DISPATCH","evt":"READY"})", Kind::kOther, "", ""},
  };
  for (const Case& c : cases) {
    const IpcMessage message = readIpcMessage(c.opcode, c.payload);
    EXPECT_EQ(message.kind, c.kind) << c.payload;
    EXPECT_EQ(message.nonce, c.nonce) << c.payload;
    EXPECT_EQ(message.text, c.text) << c.payload;
  }
}

// Cut at 128 as JavaScript counts: a character beyond U+FFFF counts two and is never cut
// in half; a stray byte counts one, as the U+FFFD it becomes.
TEST(DiscordIpc, CutsTextsOnACharacterBoundary) {
  // Texts joined from parts (GCC 12 warns wrongly of `"..." + std::string` here).
  const auto cat = [](std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text.append(part);
    return text;
  };
  const std::string a127(127, 'a');
  const std::string_view e = "\xC3\xA9";             // é, one unit
  const std::string_view note = "\xF0\x9F\x8E\xB5";  // 🎵, two units
  const std::string_view zwsp = "\xE2\x80\x8B";
  struct Case {
    std::string text;
    std::string cut;
  };
  const Case cases[] = {
      {"Blue Monday", "Blue Monday"},
      {"", ""},
      {"X", cat({"X", zwsp})},
      {std::string(e), cat({e, zwsp})},
      {cat({a127, "a"}), cat({a127, "a"})},
      {cat({a127, "ab"}), cat({a127, "a"})},
      {cat({a127, e, "b"}), cat({a127, e})},
      {cat({a127, note}), a127},
      {cat({a127, "\xFF", "b"}), cat({a127, "\xFF"})},
  };
  for (const Case& c : cases) EXPECT_EQ(presenceText(c.text), c.cut) << c.text;
  std::string notes;
  for (int i = 0; i < 70; ++i) notes.append(note);
  EXPECT_EQ(presenceText(notes).size(), 64 * note.size());
}

TEST(DiscordIpc, WritesTheHandshakeAndTheActivity) {
  EXPECT_EQ(handshakeJson("1234567890"), R"({"v":1,"client_id":"1234567890"})");
  const PresenceActivity track{"Say \"Hi\"", "X", 1765230245};
  EXPECT_EQ(setActivityJson(track, 4242, "3"),
            R"({"cmd":"SET_ACTIVITY","nonce":"3","args":{"pid":4242,"activity":{"type":2,)"
            R"("details":"Say \"Hi\"","state":"X)"
            "\xE2\x80\x8B"
            R"(","timestamps":{"start":1765230245}}}})");
  EXPECT_EQ(setActivityJson(PresenceActivity{"", "", 5}, 1, "4"),
            R"({"cmd":"SET_ACTIVITY","nonce":"4","args":{"pid":1,"activity":{"type":2,)"
            R"("timestamps":{"start":5}}}})");
  EXPECT_EQ(setActivityJson(std::nullopt, 1, "5"),
            R"({"cmd":"SET_ACTIVITY","nonce":"5","args":{"pid":1}})");
}

}  // namespace
