// Fuzz target: a frame of the Discord app's local connection as the status sender reads
// it, and a status made of any text.
//
// The first 8 bytes are a header, the rest the payload. A header must decode only with an
// opcode of Discord's and a length within the limit, and encode back to its own bytes;
// any payload must read into a message without a fault. Any text cut for a status must
// be a prefix of it (a zero-width space aside) of at most 128 UTF-16 units that does not
// end inside a character, and the SET_ACTIVITY made of it must be JSON that gives the cut
// text back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "online/discord_ipc.h"
#include "online/json.h"
#include "setfile/text.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

void checkFrame(std::string_view input) {
  const std::optional<IpcHeader> header = decodeIpcHeader(input);
  if (!header) return;
  check(header->length <= kLongestIpcPayload, "a length over the limit");
  check(static_cast<std::uint32_t>(header->opcode) <= 4, "an opcode that is not Discord's");
  const std::string_view payload = input.substr(kIpcHeaderSize);
  const std::string frame = encodeIpcFrame(header->opcode, payload.substr(0, header->length));
  if (payload.size() >= header->length) {
    check(frame.compare(0, kIpcHeaderSize, input.substr(0, kIpcHeaderSize)) == 0,
          "a header that does not encode back");
  }
  const IpcMessage message = readIpcMessage(header->opcode, payload);
  if (message.kind == IpcMessage::Kind::kPing) check(message.text == payload, "a ping changed");
}

void checkText(std::string_view input) {
  const std::string cut = presenceText(input);
  const std::string_view zwsp = "\xE2\x80\x8B";
  std::string_view kept = cut;
  if (kept.size() > input.size() && kept.ends_with(zwsp)) kept.remove_suffix(zwsp.size());
  check(input.substr(0, kept.size()) == kept, "a cut that is no prefix");
  if (isUtf8(input)) {
    check(isUtf8(cut), "a cut inside a character");
    std::size_t units = 0;
    for (const char c : cut) {
      const auto byte = static_cast<unsigned char>(c);
      units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
    }
    check(units <= kLongestPresenceText, "a text over 128 units");
  }
  check(cut.size() <= 4 * kLongestPresenceText, "a text over 128 characters");

  const PresenceActivity activity{std::string(input), std::string(input), 1};
  const platform::Expected<JsonValue> json = parseJson(setActivityJson(activity, 1, "1"));
  check(json.ok(), "a SET_ACTIVITY that is no JSON");
  if (isUtf8(input) && !input.empty()) {
    check((*json)["args"]["activity"]["details"].string() == cut, "a song that reads back changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  checkFrame(input);
  checkText(input);
  return 0;
}
