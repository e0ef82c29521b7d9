// Lines of Twitch's IRC: IRCv3 tags, a prefix, a command and its parameters, read from
// what the server sends and written for what the bot says.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct IrcMessage {
  std::vector<std::pair<std::string, std::string>> tags;  // values unescaped
  std::string prefix;                                     // without its ':'
  std::string command;                                    // "PRIVMSG", "PING", "001" ...
  std::vector<std::string> params;                        // the trailing one last

  // The value of the tag of that name, or empty.
  std::string tag(std::string_view name) const;
  // The parameter at index, or empty.
  std::string param(std::size_t index) const;
  // The nick of the prefix "nick!user@host" (the whole prefix when it has no '!').
  std::string nick() const;
};

// Reads one line (without its CR LF). Nothing when the line holds no command.
std::optional<IrcMessage> parseIrcLine(std::string_view line);

// The lines of a WebSocket message, which may hold several, each ending in CR LF (a lone
// LF is taken as a line end too). Empty lines are left out.
std::vector<std::string_view> splitIrcLines(std::string_view text);

// A tag value escaped for a line: ';' space '\' CR LF as \: \s \\ \r \n.
std::string escapeTagValue(std::string_view value);
