// The Discord app's local connection (its RPC over a socket or named pipe on the same
// computer), as far as a status needs it: frames of an 8-byte header (opcode and payload
// length, little-endian 32-bit) and a JSON payload; HANDSHAKE, the READY dispatch, and
// SET_ACTIVITY with a "Listening to" activity. The frame and message forms are plain
// functions; DiscordIpc is one connection that speaks them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/local_stream.h"

enum class IpcOpcode : std::uint32_t {
  kHandshake = 0,
  kFrame = 1,
  kClose = 2,
  kPing = 3,
  kPong = 4
};

constexpr std::size_t kIpcHeaderSize = 8;
// Discord's own messages to a status setter are a few hundred bytes; a longer payload is
// taken as a broken connection, not read.
constexpr std::uint32_t kLongestIpcPayload = 64 * 1024;
// The most Discord takes in a status text, counted as JavaScript counts (UTF-16 units).
constexpr std::size_t kLongestPresenceText = 128;

struct IpcHeader {
  IpcOpcode opcode = IpcOpcode::kFrame;
  std::uint32_t length = 0;
};

// A whole frame: the header, then the payload.
std::string encodeIpcFrame(IpcOpcode opcode, std::string_view payload);
// The header in the first kIpcHeaderSize bytes of `bytes`; nothing when there are fewer,
// the opcode is none of Discord's or the length is over kLongestIpcPayload.
std::optional<IpcHeader> decodeIpcHeader(std::string_view bytes);

// What a frame from Discord says.
struct IpcMessage {
  enum class Kind {
    kReady,    // the READY dispatch after the handshake; text: the user's name
    kAnswer,   // the answer to a command; nonce: the command's
    kRefusal,  // an ERROR event; nonce: the refused command's, text: Discord's words
    kClosed,   // a CLOSE frame; text: Discord's code and words
    kPing,     // text: the payload, which the PONG sends back
    kOther,    // anything else, which a status setter passes over
  };
  Kind kind = Kind::kOther;
  std::string nonce;
  std::string text;
};
IpcMessage readIpcMessage(IpcOpcode opcode, std::string_view payload);

// The paths where the Discord app may listen: discord-ipc-0 to discord-ipc-9 under
// localStreamPath.
std::vector<std::string> discordIpcPaths();

// The track a status shows: "Listening to <song>" by <artist>, since `startUnix`.
struct PresenceActivity {
  std::string song;
  std::string artist;
  std::int64_t startUnix = 0;  // seconds since 1970 UTC
  bool operator==(const PresenceActivity&) const = default;
};

// A text cut to kLongestPresenceText on a character boundary; a text of one character
// gets a zero-width space, since Discord refuses texts shorter than two.
std::string presenceText(std::string_view text);

std::string handshakeJson(std::string_view clientId);
// SET_ACTIVITY of `activity` (type 2, Listening: details the song, state the artist,
// timestamps.start), or without an activity, which clears the status.
std::string setActivityJson(const std::optional<PresenceActivity>& activity, unsigned long pid,
                            std::string_view nonce);

class DiscordIpc {
 public:
  // Connects to the first of `paths` where the Discord app listens, shakes hands as the
  // application `clientId` and waits for READY. The error is that of the first path
  // where something answered and then failed, else why nothing listens at the first.
  static platform::Expected<DiscordIpc> connect(std::span<const std::string> paths,
                                                std::string_view clientId);

  // The name of the Discord user, from READY.
  const std::string& user() const { return user_; }

  // Sets the status (none: clears it) and waits up to `answerMs` for Discord's answer or
  // refusal; an error when the connection failed.
  platform::Expected<IpcMessage> setActivity(const std::optional<PresenceActivity>& activity,
                                             int answerMs);

  // Reads, without waiting, what Discord sent meanwhile and answers a ping; an error when
  // Discord closed the connection.
  platform::Status keepUp();

 private:
  explicit DiscordIpc(platform::LocalStream stream) : stream_(std::move(stream)) {}
  platform::Status send(IpcOpcode opcode, std::string_view payload);
  // The next message, a ping answered on the way (and returned); an error when the
  // connection failed or Discord closed it.
  platform::Expected<IpcMessage> receive(int timeoutMs);

  platform::LocalStream stream_;
  std::string user_;
  int nonce_ = 0;
};
