// The command line's shared pieces: the usage texts, the statuses and the reports of a
// wrong command line.
#include "cli/cli.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "platform/report.h"

namespace {

constexpr std::string_view kCommands =
    "\n"
    "PLAYLIST is a playlist file of the tracker (Playlist_<date>_<time>.txt) or its set log\n"
    "(Playlist_<date>_<time>.jsonl, every character of the titles). Given the .txt, the set\n"
    "log beside it is read too, and its texts are published when both hold the same records;\n"
    "--playlist-only reads the .txt alone. Tracks with no artist, song or album (a cleared\n"
    "deck) are left out.\n"
    "  tracklist  one line per track, \"HH:MM:SS Artist - Song\", timed from --start (a clock\n"
    "             time, taken on the day nearest the first track, within 12 hours either\n"
    "             way; a start after the first track is warned about and the tracks before\n"
    "             it read 00:00:00) or else from the first track\n"
    "  csv        a spreadsheet file: UTF-8, time,deck,artist,song,album; a text beginning\n"
    "             with = + - @, a tab or a CR gets a leading ' so that no spreadsheet runs\n"
    "             it as a formula; --raw writes texts as they are\n"
    "  json       an array of {time, deck, artist, song, album}\n"
    "  html       a printable page with a numbered table of the set\n"
    "  cue        a CUE sheet for the recording of the set in FILE, which began at --start\n"
    "             (a clock time, taken as for tracklist); each track at the time it was\n"
    "             logged, or with --at loaded when its deck was loaded (this needs the set\n"
    "             log), moved by --shift (seconds, such as -12 or +3.5); --bom starts it\n"
    "             with a byte-order mark\n"
    "  chapters   the same as chapters of an ffmpeg metadata file; the last ends at --end\n"
    "             (a clock time, taken on the day nearest the last track, within 12 hours\n"
    "             either way; one before the last track is refused), or else 10 minutes\n"
    "             after it begins\n"
    "  check      the track rules of the streaming licence that mix services keep: in any\n"
    "             three hours at most 4 tracks by one artist (3 in a row) and 3 from one\n"
    "             album (2 in a row); an artist after feat., ft. or featuring counts too.\n"
    "             One line per broken rule; exit status 1 when one is broken\n"
    "  live       follows the decks as the tracker does, every character kept, and shows\n"
    "             the track on air and the one before it in the files it is given, each\n"
    "             written blank at the start and rewritten whole (a file that cannot be\n"
    "             written at the start is refused; one that fails later is tried again at\n"
    "             every poll):\n"
    "    -s N, --simple N    simple mode: a track is played once its deck stayed unchanged\n"
    "                        for N seconds (else automode, as the tracker)\n"
    "    --now-playing FILE  the track on air, one line made by --format\n"
    "    --previous FILE     the track before it, the same way\n"
    "    --format TEXT       the line; {artist}, {song}, {album} and {deck} (L or R) are\n"
    "                        replaced, {{ and }} are braces; default \"{artist} - {song}\"\n"
    "    --html FILE         a page for a browser source showing both, reloading itself\n"
    "    --delay SECONDS     every change comes this long (0 to 600) after the track was\n"
    "                        decided, in step with a delayed stream\n"
    "    --serve [ADDRESS:]PORT  a web server on 127.0.0.1, or on ADDRESS (0.0.0.0: every\n"
    "                        network): / a page for a browser source that changes without\n"
    "                        reloading, /now-playing.txt and /now-playing.json for chat\n"
    "                        bots, /set.json the tracks so far, /events; only to requests\n"
    "                        for an IP address, localhost or this computer's name (also\n"
    "                        with .local), so that no page of another site reads them\n"
    "    --allow-host NAME   also answer to NAME (a name of this computer on the network);\n"
    "                        may be given more than once\n"
    "    --rules             warns on stderr when a deck is loaded with a track that,\n"
    "                        played next, would break a rule of check\n"
    "    --twitch CHANNEL    a bot in the channel's Twitch chat answers !track and !song\n"
    "                        with the track on air and !lasttrack with the one before it,\n"
    "                        as the stream shows them (after --delay), as the account of\n"
    "                        setlist login twitch\n"
    "    --announce          the bot says \"Now playing: ...\" for each new track\n"
    "    --cooldown SECONDS  each command is answered at most once in this time, !song\n"
    "                        counting as !track (default 10, at most 3600; 0: every time)\n"
    "    --twitch-url URL    the chat server (default wss://irc-ws.chat.twitch.tv:443)\n"
    "    --discord NAME      posts each track the stream shows (after --delay) to the Discord\n"
    "                        webhook of setlist login discord --name NAME\n"
    "    --discord-format TEXT  the message, placeholders as --format, the track's texts shown\n"
    "                        as written; default \"Now playing: {artist} - {song}\"\n"
    "    --discord-username NAME  the name shown above the posts, else the webhook's\n"
    "    --kick NAME         says \"Now playing: ...\" for each track shown in the chat of the\n"
    "                        Kick account of setlist login kick --name NAME\n"
    "    --kick-format TEXT  the message, placeholders as --format, at most 500 characters\n"
    "    --accounts FILE     the accounts file that holds the twitch, discord or kick account\n"
    "  login      stores an account in the accounts file (--accounts FILE, else\n"
    "             $XDG_CONFIG_HOME/zorvanthelix/accounts.json or %APPDATA%\\Zorvanthelix\\\n"
    "             accounts.json), its secret read from standard input, never from the\n"
    "             command line: listenbrainz takes the user token and checks it, with\n"
    "             --url the API root of a server that speaks its API (such as Maloja's\n"
    "             http://HOST:42010/apis/listenbrainz); lastfm takes the shared secret\n"
    "             of your API account (--api-key KEY) and shows a page to allow the access\n"
    "             on; mixcloud takes the client secret of your Mixcloud app, prints the\n"
    "             page to open and takes the browser back on a listener on 127.0.0.1\n"
    "             (--port, else any free port), --url replacing both of Mixcloud's\n"
    "             addresses with a look-alike service's; --name NAME names the account\n"
    "             (default: the service)\n"
    "  login twitch  logs the chat bot in to Twitch with the client ID of an application\n"
    "             registered at https://dev.twitch.tv/console: open the page it shows and\n"
    "             enter its code; the tokens are kept in the accounts file. --auth-url\n"
    "             replaces Twitch's login server, https://id.twitch.tv\n"
    "  login discord  stores a Discord webhook (the channel's settings, Integrations,\n"
    "             Webhooks, Copy URL), its URL read from standard input and checked with\n"
    "             Discord; --url replaces the API root, https://discord.com/api\n"
    "  login kick  logs in to the Kick app whose client ID --client-id gives (its client\n"
    "             secret read from standard input): open the page it shows; Kick sends the\n"
    "             browser back to http://localhost:PORT/callback (--port, else 8047), the\n"
    "             redirect URL to enter in the app's settings; --auth-url and --url replace\n"
    "             https://id.kick.com and https://api.kick.com\n"
    "  accounts   lists the stored accounts: name, service, address, user\n"
    "  logout     removes the account NAME\n"
    "  scrobble   sends every played track of SET (a playlist or set log) with an artist\n"
    "             and a song to every account, or to those --to names, timed when its deck\n"
    "             was loaded; SET.scrobbled beside it records what each account accepted,\n"
    "             so a second run sends only what is missing\n"
    "    --follow   keeps reading the set log as the tracker writes it and sends each new\n"
    "               track within seconds; Ctrl-C ends\n"
    "    --dry-run  prints the requests it would send, and sends nothing\n"
    "  mixcloud   uploads the recording in FILE as a show named NAME, with the set as its\n"
    "             tracklist timed as cue times it (--start defaults to the first track);\n"
    "             at most 5 tags, a description of at most 1000 characters, a picture of\n"
    "             at most 10 MB; check's rules are warnings. --dry-run shows the fields\n"
    "             and the first and last section without sending. Prints the show's\n"
    "             address; status 1 with Mixcloud's message when it refuses\n"
    "  discord    posts the tracklist of SET, as tracklist writes it after a title line\n"
    "             (--title, else the set's date), to every Discord webhook or those --to\n"
    "             names, in messages of at most 2,000 characters; SET.discord beside it\n"
    "             records each webhook that took it, posted again only with --again\n"
    "  settings   prints every command's settings and where each came from: the settings\n"
    "             file (--settings FILE on any command, else setlist.toml beside the accounts\n"
    "             file), whose [COMMAND] tables set any long option by its name (delay = 5,\n"
    "             announce = true, allow-host = [\"a.lan\"]; [all]: those commands share), under\n"
    "             the command line; --init writes a starter file, every option commented out\n"
    "Output goes to standard output, or with -o to FILE, which is replaced only once the\n"
    "new version is complete; a FIFO or a device is written to directly, and FILE may not\n"
    "be the PLAYLIST or its set log, nor a file made read-only.\n"
    "Exit status: 0 done; 1 a file could not be read or written, or held no track, or a\n"
    "service refused or could not be reached (the tracks not sent wait for the next run), or\n"
    "check found a rule broken; 2 a wrong command line; 130 stopped by Ctrl-C before the\n"
    "output was complete.\n";

// Where a usage text wraps, and how far its further lines are set in.
constexpr std::size_t kWidth = 92;
constexpr std::string_view kIndent = "              ";

// "[--at logged|loaded]", "--audio FILE", "[-s N | --simple N]", "[--allow-host NAME]...".
std::string optionUsage(const CommandOption& option) {
  const OptionDecl& decl = *option.decl;
  std::string value;
  if (!decl.metavar.empty()) value.append(" ").append(decl.metavar);
  std::string text(option.required ? "" : "[");
  if (!decl.alias.empty()) text.append(decl.alias).append(value).append(" | ");
  text.append(decl.name).append(value).append(option.required ? "" : "]");
  return text.append(decl.repeatable ? "..." : "");
}

// The command's usage, "setlist NAME OPTIONS OPERAND" after `lead`, wrapped; with
// `summed`, the optional options as one [OPTION...].
std::string wrappedUsage(const CommandDecl& command, std::string_view lead, bool summed) {
  std::string text(lead);
  text.append("setlist ").append(command.name);
  std::size_t lineStart = 0;
  const auto add = [&](const std::string& piece) {
    if (text.size() - lineStart + 1 + piece.size() > kWidth) {
      lineStart = text.size() + 1;
      text.append("\n").append(kIndent);
    } else {
      text.push_back(' ');
    }
    text.append(piece);
  };
  for (const CommandOption& option : command.options) {
    // Every command takes --settings: the usage leaves it to --help, as it does --help.
    if (option.decl->name != "--settings" && (option.required || !summed)) {
      add(optionUsage(option));
    }
  }
  if (summed) add("[OPTION...]");
  if (!command.operand.empty()) add(std::string(command.operand));
  return text + "\n";
}

// A usage error shows at most this many lines of a command's usage: beyond them, its
// optional options are summed up as [OPTION...] and left to --help.
constexpr std::ptrdiff_t kBriefUsageLines = 4;

// The command's usage, "setlist NAME OPTIONS OPERAND" after `lead`, wrapped; `brief`: a
// usage of more than kBriefUsageLines lines with the optional options as [OPTION...].
std::string commandUsage(const CommandDecl& command, std::string_view lead, bool brief = false) {
  std::string full = wrappedUsage(command, lead, false);
  if (!brief || std::count(full.begin(), full.end(), '\n') <= kBriefUsageLines) return full;
  return wrappedUsage(command, lead, true);
}

// Whether the command is `name` or one of its kind ("login" for "login twitch").
bool isNamed(const CommandDecl& command, std::string_view name) {
  return command.name == name ||
         (command.name.starts_with(name) && command.name.size() > name.size() &&
          command.name[name.size()] == ' ');
}

// The usage of the command `name` (or of every one of its kind; `brief` as for
// commandUsage), else a short word on every command.
std::string usageOf(std::string_view name, bool brief) {
  std::string text;
  for (const CommandDecl& command : commandDecls()) {
    if (!name.empty() && isNamed(command, name)) text += commandUsage(command, "usage: ", brief);
  }
  if (!text.empty()) return text;
  text = "usage: setlist COMMAND [OPTION...] [ARGUMENT]; setlist --help tells more\ncommands:";
  std::string_view last;
  for (const CommandDecl& command : commandDecls()) {
    const std::string_view word = command.name.substr(0, command.name.find(' '));  // "login"
    if (word != last) text.append(" ").append(word);
    last = word;
  }
  return text + "\n";
}

void write(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

void printHelp() {
  std::string usage = "usage:\n";
  for (const CommandDecl& command : commandDecls()) usage += commandUsage(command, "  ");
  usage += "  setlist --help | --version\n";
  usage += "Every command also takes --settings FILE (see settings) and --help.\n";
  write(stdout, usage);
  write(stdout, kCommands);
}

void printCommandHelp(std::string_view command) {
  std::string text = usageOf(command, false);
  for (const CommandDecl& decl : commandDecls()) {
    if (!isNamed(decl, command)) continue;
    text.append("\noptions of ").append(decl.name).append(":\n");
    for (const CommandOption& option : decl.options) {
      const OptionDecl& o = *option.decl;
      std::string left("  ");
      left.append(o.alias)
          .append(o.alias.empty() ? "" : ", ")
          .append(o.name)
          .append(o.metavar.empty() ? "" : " ")
          .append(o.metavar);
      left.resize(std::max<std::size_t>(left.size() + 2, 26), ' ');
      text.append(left).append(o.help).append("\n");
    }
  }
  write(stdout,
        text + "  -h, --help              this text; setlist --help tells of every command\n");
}

platform::Error wrongCommandLine(std::string message) {
  return platform::makeError("", std::move(message));
}

platform::Error unknownOption(std::string_view subcommand, std::string_view option) {
  return wrongCommandLine("unknown option '" + std::string(option) + "' for " +
                          std::string(subcommand));
}

int usageError(const platform::Error& error, std::string_view command) {
  platform::reportError(error);
  std::string usage = usageOf(command, true);
  if (!command.empty()) usage.append("setlist ").append(command).append(" --help tells more\n");
  write(stderr, usage);
  return kStatusUsage;
}

int failed(const platform::Error& error) {
  platform::reportError(error);
  return kStatusFailed;
}
