// setlist live: follows the decks of the DJ application as the tracker does, keeping every
// character, and shows the track on air and the one before it in files and, with --serve,
// on a web page and to chat bots (with --artwork, with each track's cover art), with
// --twitch in the channel's Twitch chat, with --discord and --kick as a message for each
// track in a Discord channel and a Kick chat, and with --discord-status on the DJ's
// Discord profile, optionally a fixed time after each track was decided.
// The parts: the poller (live_poller.h), the delay line (delay_line.h) and the outputs
// (live_outputs.h); this file reads the command line and runs the loop that joins them.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "live/art_folder.h"
#include "live/chat.h"
#include "live/commands.h"
#include "live/delay_line.h"
#include "live/live_outputs.h"
#include "live/live_poller.h"
#include "live/live_server.h"
#include "live/live_texts.h"
#include "live/themes.h"
#include "online/discord_presence.h"
#include "platform/file_identity.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/track_rules.h"
#include "setfile/clock.h"
#include "tracker/console.h"
#include "tracker/conversion.h"

namespace {

using platform::Expected;
using platform::Status;

using Clock = std::chrono::steady_clock;

constexpr auto kPollPeriod = std::chrono::milliseconds(1000);

struct LiveOptions {
  RunSettings settings;
  std::string nowPlaying;
  std::string previous;
  std::string html;
  std::string format;
  int delaySeconds = 0;
  std::optional<ServeAddress> serve;
  std::vector<std::string> allowedHosts;
  live::Theme theme;   // none: the page of before
  bool rules = false;  // warn of loads that would break a track rule
  ChatOptions chat;
  std::string discordStatus;               // the application ID of the Discord status; empty: none
  TitleCleaning cleaning;                  // what the audience sees, never the console
  std::optional<ArtworkServices> artwork;  // look up cover art there
  std::string artFolder;                   // and keep it here; empty: in memory only
  AnnounceOptions announce;
};

// Two options that name one file would overwrite each other's text.
Status checkDistinctPaths(const LiveOptions& options) {
  const std::pair<const char*, const std::string*> files[] = {
      {"--now-playing", &options.nowPlaying},
      {"--previous", &options.previous},
      {"--html", &options.html}};
  for (std::size_t i = 0; i < std::size(files); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const std::string& path = *files[i].second;
      const std::string& other = *files[j].second;
      if (!path.empty() && !other.empty() && platform::sameFilePath(other, path)) {
        return wrongCommandLine(std::string(files[j].first) + " and " + files[i].first +
                                " both name " + path);
      }
    }
  }
  return {};
}

// The values that live's own readers check: the threshold as the tracker reads it, the
// server's address, the host names, the channel.
Status readLiveValues(const Arguments& arguments, LiveOptions* options) {
  if (arguments.given("--simple")) {
    const std::string threshold = arguments.text("--simple");
    const std::optional<RunSettings> settings = simpleModeSettings(threshold);
    if (!settings) return wrongValue("--simple", threshold);
    options->settings = *settings;
  }
  if (arguments.given("--serve")) {
    options->serve = parseServeAddress(arguments.text("--serve"));
    if (!options->serve) return wrongValue("--serve", arguments.text("--serve"));
  }
  if (arguments.given("--theme")) {
    platform::Expected<live::Theme> theme = live::findTheme(arguments.text("--theme"));
    if (!theme)
      return wrongCommandLine("--theme " + theme.error().subject + ": " + theme.error().text);
    options->theme = std::move(*theme);
  }
  options->discordStatus = arguments.text("--discord-status");
  if (options->discordStatus.size() > 20 ||
      options->discordStatus.find_first_not_of("0123456789") != std::string::npos) {
    return wrongValue("--discord-status", options->discordStatus);
  }
  options->allowedHosts = arguments.values("--allow-host");
  for (const std::string& host : options->allowedHosts) {
    if (host.find_first_of(":/[] ") != std::string::npos) return wrongValue("--allow-host", host);
  }
  if (Status read = readAnnounceOptions(arguments, &options->announce); !read) return read;
  return readChatOptions(arguments, &options->chat);
}

// --artwork and the services' roots, the folder and the public URL, which go with it. Without a
// cache folder the art is kept in memory only, which is said once.
Status readArtworkOptions(const Arguments& arguments, LiveOptions* options) {
  if (arguments.given("--public-url") &&
      (!arguments.given("--artwork") || options->announce.discord.empty())) {
    return wrongCommandLine("--public-url goes with --artwork and --discord NAME");
  }
  if (!arguments.given("--artwork")) {
    if (arguments.given("--musicbrainz-url") || arguments.given("--coverart-url") ||
        arguments.given("--artwork-cache")) {
      return wrongCommandLine(
          "--musicbrainz-url, --coverart-url and --artwork-cache go with --artwork");
    }
    return {};
  }
  ArtworkServices& services = options->artwork.emplace();
  services.musicBrainz = arguments.text("--musicbrainz-url", services.musicBrainz);
  services.coverArt = arguments.text("--coverart-url", services.coverArt);
  options->artFolder = arguments.text("--artwork-cache");
  if (options->artFolder.empty()) {
    const Expected<std::string> folder = defaultArtFolder();
    if (folder) {
      options->artFolder = *folder;
    } else {
      platform::reportWarning(platform::Error{
          0, folder.error().subject, folder.error().text + "; cover art is kept in memory only"});
    }
  }
  return {};
}

// The options of the command line, read by the option table, and how they go together.
Expected<LiveOptions> liveOptions(const Arguments& arguments) {
  LiveOptions options;
  options.nowPlaying = arguments.text("--now-playing");
  options.previous = arguments.text("--previous");
  options.html = arguments.text("--html");
  options.format = arguments.text("--format", "{artist} - {song}");
  options.delaySeconds = static_cast<int>(arguments.integer("--delay").value_or(0));
  options.rules = arguments.given("--rules");
  options.cleaning = TitleCleaning(arguments);
  if (Status read = readLiveValues(arguments, &options); !read) return read.error();
  if ((!options.allowedHosts.empty() || arguments.given("--theme") ||
       arguments.given("--artwork")) &&
      !options.serve) {
    return wrongCommandLine("--allow-host, --theme and --artwork are for --serve");
  }
  if (Status artwork = readArtworkOptions(arguments, &options); !artwork) return artwork.error();
  const bool chatOptionGiven = arguments.given("--announce") || arguments.given("--cooldown") ||
                               arguments.given("--twitch-url");
  if (chatOptionGiven && options.chat.channel.empty()) {
    return wrongCommandLine("--announce, --cooldown and --twitch-url go with --twitch CHANNEL");
  }
  if (arguments.given("--accounts") && options.chat.channel.empty() &&
      !announces(options.announce)) {
    return wrongCommandLine("--accounts goes with --twitch, --discord or --kick");
  }
  if (const std::string fault = formatFault(options.format); !fault.empty()) {
    return wrongCommandLine("--format: " + fault);
  }
  if (Status distinct = checkDistinctPaths(options); !distinct) return distinct.error();
  return options;
}

// Polls once a second and shows each decided track once its delay has passed, until a
// stop is requested.
void follow(const LiveOptions& options, LiveOutputs& outputs) {
  LivePoller poller(options.settings);
  DelayLine<ShownTrack> waiting{std::chrono::seconds(options.delaySeconds)};
  LoadWarnings loadWarnings;
  if (options.rules) {
    poller.watchDecks([&](const Track& left, const Track& right, const PollReports& reports) {
      warnOfLoads(loadWarnings, left, right, reports);
    });
  }
  Clock::time_point nextPoll = Clock::now();
  while (!platform::stopRequested()) {
    if (Clock::now() >= nextPoll) {
      const Clock::time_point decided = Clock::now();
      nextPoll = decided + kPollPeriod;
      for (const LivePoller::Played& played : poller.poll()) {
        std::cout << trackReport(played.deck, played.track) << std::flush;
        waiting.push(decided, showTrack(played.deck, played.track, isoTimeNow(), options.format,
                                        options.cleaning));
      }
      outputs.writePending();
    }
    while (std::optional<ShownTrack> due = waiting.takeDue(Clock::now())) {
      outputs.add(std::move(*due));
    }
    const Clock::time_point wake = std::min(nextPoll, waiting.nextDue().value_or(nextPoll));
    const auto sleep = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    if (sleep.count() > 0) platform::sleepMilliseconds(static_cast<int>(sleep.count()));
  }
}

}  // namespace

int runLive(int argc, char** argv) {
  const Arguments arguments = readCommandLine("live", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const Expected<LiveOptions> options = liveOptions(arguments);
  if (!options) return usageError(options.error(), "live");
  platform::installStopHandler();
  LiveOutputs outputs(options->nowPlaying, options->previous, options->html);
  if (Status writable = outputs.checkWritable(); !writable) return failed(writable.error());
  // The port first: a port in use ends the run before the chat logs in.
  if (options->serve) {
    Status serving = outputs.serve(*options->serve, options->allowedHosts, options->theme);
    if (!serving) return failed(serving.error());
    if (options->artwork) outputs.lookUpArtwork(*options->artwork, options->artFolder);
  }
  if (!options->chat.channel.empty()) {
    const std::string path = chatAccountsPath(options->chat);
    const Expected<std::vector<Account>> accounts = loadAccounts(path);
    if (!accounts) return failed(accounts.error());
    const Expected<Account> account = chatAccount(*accounts, path);
    if (!account) return usageError(account.error());
    outputs.chatWith(TwitchChat::start(options->chat, *account, path));
  }
  if (!options->discordStatus.empty()) {
    PresenceSettings presence;
    presence.clientId = options->discordStatus;
    outputs.presenceWith(DiscordPresence::start(std::move(presence)));
  }
  if (announces(options->announce)) {
    auto announcers = startAnnouncers(options->announce, chatAccountsPath(options->chat));
    if (!announcers) return usageError(announcers.error());
    outputs.announceWith(std::move(*announcers));
  }
  outputs.show();  // blank, so nothing of an earlier run stays on the stream
  follow(*options, outputs);
  platform::reportProgress("stopped");
  return kStatusOk;
}
