#include "live/announcements.h"

#include "cli/cli.h"
#include "online/discord.h"
#include "online/kick.h"
#include "setfile/text.h"

namespace {

// A post that fails is tried again after 1, 2, 4 ... s, then every minute (Announcer's).
constexpr BackoffPolicy kNoBackoff{.tries = 1};

platform::Expected<const Account*> accountNamed(const std::vector<Account>& accounts,
                                                const std::string& name, const std::string& path,
                                                const char* login) {
  const Account* account = findAccount(accounts, name);
  if (account == nullptr) {
    return platform::makeError(
        path, "no account named '" + name + "': log in first with " + login + " --name " + name);
  }
  return account;
}

platform::Expected<std::unique_ptr<TrackAnnouncer>> discordAnnouncer(
    const AnnounceOptions& options, const std::vector<Account>& accounts, const std::string& path) {
  const auto account = accountNamed(accounts, options.discord, path, "setlist login discord");
  if (!account) return account.error();
  auto target = discordTarget(**account, path);
  if (!target) return target.error();
  const std::string gone = discordGone(target->name);
  auto poster = std::make_shared<DiscordPoster>(std::move(*target), options.discordUsername,
                                                systemClock(), kNoBackoff);
  auto announcer = std::make_unique<Announcer>(
      "Discord",
      [poster](const std::string& body, const StopSignal& stop) {
        return poster->sendBody(body, stop);
      },
      gone);
  return std::make_unique<TrackAnnouncer>(
      [options](const ShownTrack& track) { return discordPostBody(options, track); },
      std::move(announcer));
}

platform::Expected<std::unique_ptr<TrackAnnouncer>> kickAnnouncer(
    const AnnounceOptions& options, const std::vector<Account>& accounts, const std::string& path) {
  const auto account = accountNamed(accounts, options.kick, path, "setlist login kick");
  if (!account) return account.error();
  if ((*account)->service != "kick") {
    return platform::makeError(
        path, "the account '" + options.kick + "' is for " + (*account)->service + ", not Kick");
  }
  auto chat = std::make_shared<KickChat>(**account, path);
  auto announcer = std::make_unique<Announcer>(
      "Kick",
      [chat](const std::string& text, const StopSignal& stop) { return chat->send(text, stop); },
      kKickLogInAgain);
  return std::make_unique<TrackAnnouncer>(
      [format = options.kickFormat](const ShownTrack& track) {
        return kickAnnouncement(format, track);
      },
      std::move(announcer));
}

}  // namespace

platform::Status readAnnounceOptions(const Arguments& arguments, AnnounceOptions* options) {
  options->discord = arguments.text("--discord");
  options->discordFormat = arguments.text("--discord-format", options->discordFormat);
  options->discordUsername = arguments.text("--discord-username");
  if (const std::string fault = formatFault(options->discordFormat); !fault.empty()) {
    return wrongCommandLine("--discord-format: " + fault);
  }
  if ((arguments.given("--discord-format") || arguments.given("--discord-username")) &&
      options->discord.empty()) {
    return wrongCommandLine("--discord-format and --discord-username go with --discord NAME");
  }
  options->kick = arguments.text("--kick");
  options->kickFormat = arguments.text("--kick-format", options->kickFormat);
  if (const std::string fault = formatFault(options->kickFormat); !fault.empty()) {
    return wrongCommandLine("--kick-format: " + fault);
  }
  if (arguments.given("--kick-format") && options->kick.empty()) {
    return wrongCommandLine("--kick-format goes with --kick NAME");
  }
  options->publicUrl = arguments.text("--public-url");
  while (options->publicUrl.ends_with('/')) options->publicUrl.pop_back();
  return {};
}

bool announces(const AnnounceOptions& options) {
  return !options.discord.empty() || !options.kick.empty();
}

std::string kickAnnouncement(const std::string& format, const ShownTrack& shown) {
  return kickText(formatTrack(format, shown.deck, shown.track));
}

std::string discordAnnouncement(const std::string& format, const ShownTrack& shown) {
  Track track = shown.track;
  for (std::string* text : {&track.artist, &track.song, &track.album}) {
    *text = discordEscape(*text);
  }
  std::string text = formatTrack(format, shown.deck, track);
  if (utf8Characters(text) > kDiscordMessageLength) {
    text.resize(utf8Prefix(text, kDiscordMessageLength - 1));
    text += "\xE2\x80\xA6";  // …
  }
  return text;
}

std::string discordPostBody(const AnnounceOptions& options, const ShownTrack& track) {
  const std::string thumbnail =
      options.publicUrl.empty() || !track.art ? "" : options.publicUrl + track.art->path;
  return discordMessageBody(discordAnnouncement(options.discordFormat, track),
                            options.discordUsername, thumbnail);
}

platform::Expected<std::vector<std::unique_ptr<TrackAnnouncer>>> startAnnouncers(
    const AnnounceOptions& options, const std::string& path) {
  std::vector<std::unique_ptr<TrackAnnouncer>> started;
  if (!announces(options)) return started;
  const auto accounts = loadAccounts(path);
  if (!accounts) return accounts.error();
  if (!options.discord.empty()) {
    auto discord = discordAnnouncer(options, *accounts, path);
    if (!discord) return discord.error();
    started.push_back(std::move(*discord));
  }
  if (!options.kick.empty()) {
    auto kick = kickAnnouncer(options, *accounts, path);
    if (!kick) return kick.error();
    started.push_back(std::move(*kick));
  }
  return started;
}
