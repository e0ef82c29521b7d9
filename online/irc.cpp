#include "online/irc.h"

#include <algorithm>

namespace {

std::string unescapeTagValue(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
      continue;
    }
    if (++i == value.size()) break;  // a lone backslash at the end is dropped
    switch (value[i]) {
      case ':':
        text += ';';
        break;
      case 's':
        text += ' ';
        break;
      case 'r':
        text += '\r';
        break;
      case 'n':
        text += '\n';
        break;
      default:
        text += value[i];  // "\\" and any other escaped character stand for it
    }
  }
  return text;
}

// The next word up to a space, and the rest after the spaces that follow it.
std::string_view takeWord(std::string_view* rest) {
  const std::size_t end = std::min(rest->find(' '), rest->size());
  const std::string_view word = rest->substr(0, end);
  rest->remove_prefix(end);
  while (!rest->empty() && rest->front() == ' ') rest->remove_prefix(1);
  return word;
}

}  // namespace

std::string IrcMessage::tag(std::string_view name) const {
  for (const auto& [key, value] : tags) {
    if (key == name) return value;
  }
  return "";
}

std::string IrcMessage::param(std::size_t index) const {
  return index < params.size() ? params[index] : "";
}

std::string IrcMessage::nick() const { return prefix.substr(0, prefix.find('!')); }

std::optional<IrcMessage> parseIrcLine(std::string_view line) {
  IrcMessage message;
  std::string_view rest = line;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (!rest.empty() && rest.front() == '@') {
    rest.remove_prefix(1);
    std::string_view tags = takeWord(&rest);
    while (!tags.empty()) {
      const std::size_t end = std::min(tags.find(';'), tags.size());
      const std::string_view tag = tags.substr(0, end);
      tags.remove_prefix(std::min(end + 1, tags.size()));
      if (tag.empty()) continue;
      const std::size_t equals = tag.find('=');
      if (equals == std::string_view::npos) {
        message.tags.emplace_back(std::string(tag), "");
      } else {
        message.tags.emplace_back(std::string(tag.substr(0, equals)),
                                  unescapeTagValue(tag.substr(equals + 1)));
      }
    }
  }
  if (!rest.empty() && rest.front() == ':') {
    rest.remove_prefix(1);
    message.prefix = takeWord(&rest);
  }
  message.command = takeWord(&rest);
  if (message.command.empty()) return std::nullopt;
  while (!rest.empty()) {
    if (rest.front() == ':') {
      message.params.emplace_back(rest.substr(1));
      break;
    }
    message.params.emplace_back(takeWord(&rest));
  }
  return message;
}

std::vector<std::string_view> splitIrcLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string escapeTagValue(std::string_view value) {
  std::string text;
  for (const char c : value) {
    switch (c) {
      case ';':
        text += "\\:";
        break;
      case ' ':
        text += "\\s";
        break;
      case '\\':
        text += "\\\\";
        break;
      case '\r':
        text += "\\r";
        break;
      case '\n':
        text += "\\n";
        break;
      default:
        text += c;
    }
  }
  return text;
}
