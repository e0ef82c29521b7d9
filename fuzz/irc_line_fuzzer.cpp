// Fuzz target: a line of the chat server as the bot reads it, and the chat message made
// of any text.
//
// The line must parse without a fault, into a command without spaces and parameters of
// which only the last may hold one. Any text escaped as a tag value must read back as
// itself, and a chat message made of it must hold no control character (no line break
// may split the IRC line) and at most 500 characters.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "live/chat_bot.h"
#include "online/irc.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const std::string_view line : splitIrcLines(input)) {
    check(line.find('\n') == std::string_view::npos, "a line end inside a line");
    const std::optional<IrcMessage> message = parseIrcLine(line);
    if (!message) continue;
    check(!message->command.empty(), "an empty command");
    check(message->command.find(' ') == std::string::npos, "a space in the command");
    for (std::size_t i = 0; i + 1 < message->params.size(); ++i) {
      check(message->params[i].find(' ') == std::string::npos, "a space in a middle parameter");
      check(!message->params[i].empty(), "an empty middle parameter");
    }
    for (const auto& [name, value] : message->tags) {
      check(name.find_first_of("; ") == std::string::npos, "a separator in a tag name");
    }
  }
  const std::optional<IrcMessage> tagged =
      parseIrcLine("@k=" + escapeTagValue(input) + " :p PRIVMSG #c :x");
  check(tagged && tagged->tag("k") == input, "a tag value that does not read back");

  const std::string text = chatText(input);
  std::size_t characters = 0;
  for (const char c : text) {
    check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control character");
    characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  check(characters <= kLongestMessage, "a message over 500 characters");
  const std::optional<IrcMessage> sent = parseIrcLine(privmsgLine("c", input, input));
  check(sent && sent->command == "PRIVMSG" && sent->param(1) == text &&
            sent->tag("reply-parent-msg-id") == input,
        "a reply that does not read back");
  return 0;
}
