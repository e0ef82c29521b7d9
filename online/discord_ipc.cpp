#include "online/discord_ipc.h"

#include <algorithm>

#include "online/json.h"
#include "setfile/json_writer.h"
#include "setfile/text.h"

namespace {

constexpr int kConnectMs = 1000;
// From the handshake to READY, and for any one frame's bytes once its header came.
constexpr int kReadyMs = 3000;
constexpr int kFrameMs = 1000;
// Frames that may come before READY or a command's answer (pings, events) before the
// connection is given up.
constexpr int kFramesBeforeReady = 8;
constexpr int kFramesBeforeAnswer = 8;
constexpr std::string_view kZeroWidthSpace = "\xE2\x80\x8B";

void appendLittleEndian(std::uint32_t value, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

std::uint32_t readLittleEndian(std::string_view bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return value;
}

// "4000: Invalid Client ID" from {"code":4000,"message":"Invalid Client ID"}.
std::string codeAndMessage(const JsonValue& data) {
  const std::string& code = data["code"].string();
  const std::string& message = data["message"].string();
  if (code.empty()) return message.empty() ? "no reason given" : message;
  return message.empty() ? code : code + ": " + message;
}

}  // namespace

std::string encodeIpcFrame(IpcOpcode opcode, std::string_view payload) {
  std::string frame;
  frame.reserve(kIpcHeaderSize + payload.size());
  appendLittleEndian(static_cast<std::uint32_t>(opcode), &frame);
  appendLittleEndian(static_cast<std::uint32_t>(payload.size()), &frame);
  return frame.append(payload);
}

std::optional<IpcHeader> decodeIpcHeader(std::string_view bytes) {
  if (bytes.size() < kIpcHeaderSize) return std::nullopt;
  const std::uint32_t opcode = readLittleEndian(bytes);
  const std::uint32_t length = readLittleEndian(bytes.substr(4));
  if (opcode > static_cast<std::uint32_t>(IpcOpcode::kPong) || length > kLongestIpcPayload) {
    return std::nullopt;
  }
  return IpcHeader{static_cast<IpcOpcode>(opcode), length};
}

IpcMessage readIpcMessage(IpcOpcode opcode, std::string_view payload) {
  using Kind = IpcMessage::Kind;
  if (opcode == IpcOpcode::kPing) return {Kind::kPing, "", std::string(payload)};
  const platform::Expected<JsonValue> json = parseJson(payload);
  if (opcode == IpcOpcode::kClose) {
    return {Kind::kClosed, "", json ? codeAndMessage(*json) : "no reason given"};
  }
  if (opcode != IpcOpcode::kFrame || !json) return {};
  const JsonValue& message = *json;
  const std::string& event = message["evt"].string();
  if (event == "READY" && message["cmd"].string() == "DISPATCH") {
    const JsonValue& user = message["data"]["user"];
    const std::string& name = user["global_name"].string();
    return {Kind::kReady, "", name.empty() ? user["username"].string() : name};
  }
  const std::string& nonce = message["nonce"].string();
  if (event == "ERROR") return {Kind::kRefusal, nonce, codeAndMessage(message["data"])};
  if (!message["cmd"].string().empty() && !nonce.empty()) return {Kind::kAnswer, nonce, ""};
  return {};
}

std::vector<std::string> discordIpcPaths() {
  std::vector<std::string> paths;
  for (char digit = '0'; digit <= '9'; ++digit) {
    paths.push_back(platform::localStreamPath(std::string("discord-ipc-") + digit));
  }
  return paths;
}

std::string presenceText(std::string_view text) {
  std::size_t units = 0;
  std::size_t end = 0;
  while (end < text.size()) {
    // A byte that is no character's becomes one U+FFFD in the JSON.
    const std::size_t length = std::max<std::size_t>(utf8Length(text.substr(end)), 1);
    const std::size_t width = length == 4 ? 2 : 1;  // beyond U+FFFF: a surrogate pair
    if (units + width > kLongestPresenceText) break;
    units += width;
    end += length;
  }
  std::string cut(text.substr(0, end));
  if (units == 1) cut.append(kZeroWidthSpace);
  return cut;
}

std::string handshakeJson(std::string_view clientId) {
  std::string out;
  JsonWriter json(&out);
  json.beginObject();
  json.name("v");
  json.number(1);
  json.name("client_id");
  json.string(clientId);
  json.endObject();
  return out;
}

std::string setActivityJson(const std::optional<PresenceActivity>& activity, unsigned long pid,
                            std::string_view nonce) {
  std::string out;
  JsonWriter json(&out);
  json.beginObject();
  json.name("cmd");
  json.string("SET_ACTIVITY");
  json.name("nonce");
  json.string(nonce);
  json.name("args");
  json.beginObject();
  json.name("pid");
  json.number(static_cast<std::int64_t>(pid));
  if (activity) {
    json.name("activity");
    json.beginObject();
    json.name("type");
    json.number(2);
    for (const auto& [name, text] :
         {std::pair{"details", &activity->song}, std::pair{"state", &activity->artist}}) {
      if (text->empty()) continue;
      json.name(name);
      json.string(presenceText(*text));
    }
    json.name("timestamps");
    json.beginObject();
    json.name("start");
    json.number(activity->startUnix);
    json.endObject();
    json.endObject();
  }
  json.endObject();
  json.endObject();
  return out;
}

platform::Expected<DiscordIpc> DiscordIpc::connect(std::span<const std::string> paths,
                                                   std::string_view clientId) {
  std::optional<platform::Error> refused;  // a path where something answered, then failed
  std::optional<platform::Error> absent;   // why nothing listens at the first path
  for (const std::string& path : paths) {
    platform::Expected<platform::LocalStream> stream =
        platform::LocalStream::connect(path, kConnectMs);
    if (!stream) {
      if (!absent) absent = stream.error();
      continue;
    }
    DiscordIpc ipc(std::move(*stream));
    platform::Status shaken = ipc.send(IpcOpcode::kHandshake, handshakeJson(clientId));
    for (int frames = 0; shaken && frames < kFramesBeforeReady; ++frames) {
      const platform::Expected<IpcMessage> message = ipc.receive(kReadyMs);
      if (!message) {
        shaken = message.error();
      } else if (message->kind == IpcMessage::Kind::kReady) {
        ipc.user_ = message->text;
        return ipc;
      } else if (message->kind == IpcMessage::Kind::kRefusal) {
        shaken = platform::makeError(path, "Discord refused the handshake: " + message->text);
      }
    }
    if (!refused) {
      refused = shaken ? platform::makeError(path, "no READY from Discord") : shaken.error();
    }
  }
  if (refused) return *refused;
  if (absent && paths.size() > 1) {
    return platform::makeError(paths.front() + " to " + paths.back(), absent->text);
  }
  if (absent) return *absent;
  return platform::makeError("Discord", "no path to look for the Discord app at");
}

platform::Status DiscordIpc::send(IpcOpcode opcode, std::string_view payload) {
  return stream_.write(encodeIpcFrame(opcode, payload), kFrameMs);
}

platform::Expected<IpcMessage> DiscordIpc::receive(int timeoutMs) {
  const platform::Expected<std::string> head = stream_.readExactly(kIpcHeaderSize, timeoutMs);
  if (!head) return head.error();
  const std::optional<IpcHeader> header = decodeIpcHeader(*head);
  if (!header) return platform::makeError(stream_.path(), "Discord sent no frame of its protocol");
  const platform::Expected<std::string> payload = stream_.readExactly(header->length, kFrameMs);
  if (!payload) return payload.error();
  IpcMessage message = readIpcMessage(header->opcode, *payload);
  if (message.kind == IpcMessage::Kind::kClosed) {
    return platform::makeError(stream_.path(), "Discord closed the connection: " + message.text);
  }
  if (message.kind == IpcMessage::Kind::kPing) {
    if (platform::Status answered = send(IpcOpcode::kPong, message.text); !answered) {
      return answered.error();
    }
  }
  return message;
}

platform::Expected<IpcMessage> DiscordIpc::setActivity(
    const std::optional<PresenceActivity>& activity, int answerMs) {
  const std::string nonce = std::to_string(++nonce_);
  platform::Status sent =
      send(IpcOpcode::kFrame, setActivityJson(activity, platform::processId(), nonce));
  if (!sent) return sent.error();
  for (int frames = 0; frames < kFramesBeforeAnswer; ++frames) {
    platform::Expected<IpcMessage> message = receive(answerMs);
    if (!message) return message.error();
    const bool answer =
        message->kind == IpcMessage::Kind::kAnswer || message->kind == IpcMessage::Kind::kRefusal;
    if (answer && message->nonce == nonce) return message;
  }
  return platform::makeError(stream_.path(), "Discord did not answer SET_ACTIVITY");
}

platform::Status DiscordIpc::keepUp() {
  // A few frames at a time: a flood of them cannot hold the sender.
  for (int frames = 0; frames < kFramesBeforeAnswer && stream_.readable(0); ++frames) {
    if (const platform::Expected<IpcMessage> message = receive(kFrameMs); !message) {
      return message.error();
    }
  }
  return {};
}
