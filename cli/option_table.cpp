// The table itself: each option once, then each command as the list of its options. An
// option that several commands take is one declaration, so that it means the same in
// each; a new option is one line here and is read, checked and shown in every usage text
// without more code.
#include <algorithm>
#include <iterator>

#include "cli/options.h"

namespace {

using K = OptionKind;

// The settings file, which every command reads.
constexpr OptionDecl kSettings{
    "--settings", "", K::kFile, "FILE",
    "the settings file, else setlist.toml in the user's settings folder"};
constexpr OptionDecl kInit{"--init", "", K::kFlag, "",
                           "writes a starter settings file, every option in it commented out"};

// Reading the set.
constexpr OptionDecl kPlaylistOnly{"--playlist-only", "", K::kFlag, "",
                                   "reads the playlist alone, not the set log beside it"};
constexpr OptionDecl kOutput{"-o", "", K::kFile, "FILE",
                             "writes FILE, replaced once complete, instead of standard output"};
constexpr OptionDecl kStart{"--start", "", K::kClock, "HH:MM:SS",
                            "the clock time the set's recording (or timing) began"};
constexpr OptionDecl kClean{
    "--clean", "", K::kFlag, "",
    "cleans titles for show: built-in phrases and the settings' [clean] rules"};
constexpr OptionDecl kRaw{"--raw", "", K::kFlag, "",
                          "writes texts as they are, without the guard against formulas"};

// Recordings: cue, chapters and the Mixcloud upload.
constexpr OptionDecl kAudio{"--audio", "", K::kFile, "FILE", "the recording's audio file"};
constexpr OptionDecl kAt{"--at",
                         "",
                         K::kChoice,
                         "logged|loaded",
                         "each track where it was logged, or where its deck was loaded",
                         {},
                         "logged|loaded"};
constexpr OptionDecl kShift{"--shift",
                            "",
                            K::kSeconds,
                            "SECONDS",
                            "moves every track by this much, such as -12 or +3.5",
                            "seconds such as -12 or +3.5"};
constexpr OptionDecl kBom{"--bom", "", K::kFlag, "", "starts the sheet with a byte-order mark"};
constexpr OptionDecl kEnd{"--end", "", K::kClock, "HH:MM:SS",
                          "the clock time the recording ended (else 10 minutes after the last)"};

// live.
constexpr OptionDecl kSimple{"--simple",
                             "-s",
                             K::kText,
                             "N",
                             "simple mode: a track is played once its deck is unchanged N s",
                             "a whole number of seconds, at least 1"};
constexpr OptionDecl kNowPlaying{"--now-playing", "", K::kFile, "FILE",
                                 "the track on air, one line made by --format"};
constexpr OptionDecl kPrevious{"--previous", "", K::kFile, "FILE",
                               "the track before it, the same way"};
constexpr OptionDecl kFormat{"--format", "", K::kText, "TEXT",
                             "the line: {artist}, {song}, {album}, {deck}; {{ and }} are braces"};
constexpr OptionDecl kHtml{"--html", "", K::kFile, "FILE",
                           "a page for a browser source showing both, reloading itself"};
constexpr OptionDecl kDelay{"--delay",
                            "",
                            K::kInteger,
                            "SECONDS",
                            "every change this long after the track was decided",
                            "whole seconds from 0 to 600",
                            {},
                            0,
                            600};
constexpr OptionDecl kServe{"--serve",
                            "",
                            K::kText,
                            "[ADDRESS:]PORT",
                            "a web server for browser sources and chat bots (on 127.0.0.1)",
                            "[ADDRESS:]PORT, such as 8040 or 0.0.0.0:8040"};
constexpr OptionDecl kAllowHost{"--allow-host",
                                "",
                                K::kText,
                                "NAME",
                                "the server also answers to this name of the computer",
                                "a host name, such as djlaptop.lan",
                                {},
                                0,
                                0,
                                true};
constexpr OptionDecl kTheme{
    "--theme", "", K::kText, "NAME|DIR",
    "the served page's look: lower-third, card, ticker, history, or a folder"};
constexpr OptionDecl kArtwork{"--artwork", "", K::kFlag, "",
                              "shows each track's cover art (MusicBrainz, Cover Art Archive)"};
constexpr OptionDecl kMusicBrainzUrl{"--musicbrainz-url",
                                     "",
                                     K::kUrl,
                                     "URL",
                                     "MusicBrainz's root (default https://musicbrainz.org)",
                                     "an http:// or https:// address",
                                     "http|https"};
constexpr OptionDecl kCoverArtUrl{
    "--coverart-url",
    "",
    K::kUrl,
    "URL",
    "the Cover Art Archive's root (default https://coverartarchive.org)",
    "an http:// or https:// address",
    "http|https"};
constexpr OptionDecl kArtworkCache{
    "--artwork-cache", "", K::kText, "DIR",
    "keeps the cover art in this folder (default: the user's cache folder), at most 50 MB"};
constexpr OptionDecl kPublicUrl{
    "--public-url",
    "",
    K::kUrl,
    "URL",
    "where the audience reaches the server (a tunnel, a proxy): Discord posts show the art",
    "an http:// or https:// address",
    "http|https"};
constexpr OptionDecl kRules{"--rules", "", K::kFlag, "",
                            "warns when a loaded track would break a rule of check"};
constexpr OptionDecl kTwitch{"--twitch",
                             "",
                             K::kText,
                             "CHANNEL",
                             "a bot in the channel's Twitch chat answers !track and !lasttrack",
                             "a channel name (letters, digits and _)"};
constexpr OptionDecl kAnnounce{"--announce", "", K::kFlag, "",
                               "the bot says \"Now playing: ...\" for each new track"};
constexpr OptionDecl kCooldown{"--cooldown",
                               "",
                               K::kInteger,
                               "SECONDS",
                               "each chat command is answered at most once in this time",
                               "whole seconds from 0 to 3600",
                               {},
                               0,
                               3600};
constexpr OptionDecl kTwitchUrl{"--twitch-url",
                                "",
                                K::kUrl,
                                "URL",
                                "the chat server (default wss://irc-ws.chat.twitch.tv:443)",
                                "a ws:// or wss:// address",
                                "ws|wss"};
constexpr OptionDecl kDiscordStatus{"--discord-status",
                                    "",
                                    K::kText,
                                    "CLIENT_ID",
                                    "your Discord profile shows \"Listening to\" the track on air",
                                    "an application ID from Discord's developer portal (digits)"};
constexpr OptionDecl kDiscord{"--discord", "", K::kText, "NAME",
                              "posts each track shown to this Discord webhook account"};
constexpr OptionDecl kDiscordFormat{
    "--discord-format", "", K::kText, "TEXT",
    "the Discord message, placeholders as --format (\"Now playing: {artist} - {song}\")"};
constexpr OptionDecl kKick{"--kick", "", K::kText, "NAME",
                           "says \"Now playing: ...\" for each track in the Kick account's chat"};
constexpr OptionDecl kKickFormat{"--kick-format", "", K::kText, "TEXT",
                                 "the Kick message, placeholders as --format"};
constexpr OptionDecl kDiscordUsername{"--discord-username", "", K::kText, "NAME",
                                      "the name Discord shows above the posts, else the webhook's"};

// The accounts file and the logins.
constexpr OptionDecl kAccounts{"--accounts", "", K::kFile, "FILE",
                               "the accounts file, else the one in the user's settings folder"};
constexpr OptionDecl kAccountName{"--name",
                                  "",
                                  K::kText,
                                  "NAME",
                                  "the account's name (default: the service)",
                                  "letters, digits, '-', '_' and '.'"};
constexpr OptionDecl kUrl{"--url",
                          "",
                          K::kUrl,
                          "URL",
                          "the address of a server that speaks the service's API",
                          "an http:// or https:// address",
                          "http|https"};
constexpr OptionDecl kApiKey{"--api-key", "", K::kText, "KEY",
                             "the API key of your Last.fm API account"};
constexpr OptionDecl kClientId{"--client-id", "", K::kText, "ID",
                               "the client ID of the application you registered"};
constexpr OptionDecl kPort{"--port",
                           "",
                           K::kInteger,
                           "PORT",
                           "the browser's way back on 127.0.0.1 (mixcloud: else any; kick: 8047)",
                           "a port number",
                           {},
                           1,
                           65535};
constexpr OptionDecl kAuthUrl{
    "--auth-url",
    "",
    K::kUrl,
    "URL",
    "the login server (twitch: https://id.twitch.tv; kick: https://id.kick.com; lastfm: --url)",
    "an http:// or https:// address",
    "http|https"};

// Sending.
constexpr OptionDecl kTo{"--to", "", K::kList, "NAME[,NAME...]",
                         "only these accounts, else every account the command sends to"};
constexpr OptionDecl kFollow{"--follow", "", K::kFlag, "",
                             "keeps reading the set log and sends each new track; Ctrl-C ends"};
constexpr OptionDecl kDryRun{"--dry-run", "", K::kFlag, "",
                             "shows what it would send, and sends nothing"};
constexpr OptionDecl kShowName{"--name", "", K::kText, "NAME", "the show's name"};
constexpr OptionDecl kDescription{"--description", "", K::kText, "TEXT",
                                  "the show's description, at most 1000 characters"};
constexpr OptionDecl kTags{"--tags", "", K::kList, "A,B,...", "the show's tags, at most 5"};
constexpr OptionDecl kTitle{"--title", "", K::kText, "TEXT",
                            "the first line, else \"Tracklist of\" and the set's date"};
constexpr OptionDecl kAgain{"--again", "", K::kFlag, "",
                            "posts again to an account that has the tracklist already"};
constexpr OptionDecl kPicture{"--picture", "", K::kFile, "FILE",
                              "the show's picture, at most 10 MB"};

constexpr CommandOption kSettingsCommand[] = {{&kInit}, {&kSettings}};
constexpr CommandOption kConvert[] = {{&kClean}, {&kPlaylistOnly}, {&kOutput}, {&kSettings}};
constexpr CommandOption kTracklist[] = {
    {&kStart}, {&kClean}, {&kPlaylistOnly}, {&kOutput}, {&kSettings}};
constexpr CommandOption kCsv[] = {{&kRaw}, {&kPlaylistOnly}, {&kOutput}, {&kSettings}};
constexpr CommandOption kCue[] = {{&kAudio, true}, {&kStart, true},  {&kAt},     {&kShift},
                                  {&kBom},         {&kPlaylistOnly}, {&kOutput}, {&kSettings}};
constexpr CommandOption kChapters[] = {{&kStart, true},  {&kEnd},    {&kAt},      {&kShift},
                                       {&kPlaylistOnly}, {&kOutput}, {&kSettings}};
constexpr CommandOption kCheck[] = {{&kPlaylistOnly}, {&kSettings}};
constexpr CommandOption kLive[] = {
    {&kSimple},        {&kNowPlaying},      {&kPrevious},       {&kFormat},      {&kHtml},
    {&kDelay},         {&kServe},           {&kAllowHost},      {&kRules},       {&kTwitch},
    {&kAnnounce},      {&kClean},           {&kCooldown},       {&kTwitchUrl},   {&kDiscord},
    {&kDiscordFormat}, {&kDiscordUsername}, {&kKick},           {&kKickFormat},  {&kAccounts},
    {&kTheme},         {&kArtwork},         {&kMusicBrainzUrl}, {&kCoverArtUrl}, {&kArtworkCache},
    {&kPublicUrl},     {&kDiscordStatus},   {&kSettings}};
constexpr CommandOption kLoginListenBrainz[] = {
    {&kAccountName}, {&kUrl}, {&kAccounts}, {&kSettings}};
constexpr CommandOption kLoginLastfm[] = {{&kApiKey, true}, {&kAccountName}, {&kUrl},
                                          {&kAuthUrl},      {&kAccounts},    {&kSettings}};
constexpr CommandOption kLoginMixcloud[] = {
    {&kClientId, true}, {&kPort}, {&kAccountName}, {&kUrl}, {&kAccounts}, {&kSettings}};
constexpr CommandOption kLoginTwitch[] = {
    {&kClientId, true}, {&kAuthUrl}, {&kAccountName}, {&kAccounts}, {&kSettings}};
constexpr CommandOption kLoginDiscord[] = {{&kAccountName}, {&kUrl}, {&kAccounts}, {&kSettings}};
constexpr CommandOption kLoginKick[] = {{&kClientId, true}, {&kPort}, {&kAuthUrl},
                                        {&kAccountName},    {&kUrl},  {&kAccounts},
                                        {&kSettings}};
constexpr CommandOption kSettingsOnly[] = {{&kSettings}};
constexpr CommandOption kAccountsOnly[] = {{&kAccounts}, {&kSettings}};
constexpr CommandOption kScrobble[] = {{&kTo},       {&kFollow}, {&kDryRun},
                                       {&kAccounts}, {&kClean},  {&kSettings}};
constexpr CommandOption kDiscordCommand[] = {
    {&kTo}, {&kTitle}, {&kStart}, {&kAgain}, {&kDiscordUsername}, {&kAccounts}, {&kSettings}};
constexpr CommandOption kMixcloud[] = {{&kAudio, true}, {&kShowName, true}, {&kDescription},
                                       {&kTags},        {&kPicture},        {&kStart},
                                       {&kAt},          {&kShift},          {&kDryRun},
                                       {&kAccounts},    {&kClean},          {&kPlaylistOnly},
                                       {&kSettings}};

constexpr CommandDecl kCommands[] = {
    {"tracklist", "PLAYLIST", kTracklist},
    {"csv", "PLAYLIST", kCsv},
    {"json", "PLAYLIST", kConvert},
    {"html", "PLAYLIST", kConvert},
    {"cue", "PLAYLIST", kCue},
    {"chapters", "PLAYLIST", kChapters},
    {"check", "PLAYLIST", kCheck},
    {"live", "", kLive},
    {"theme export", "NAME DIR", kSettingsOnly},
    {"login listenbrainz", "", kLoginListenBrainz},
    {"login lastfm", "", kLoginLastfm},
    {"login mixcloud", "", kLoginMixcloud},
    {"login twitch", "", kLoginTwitch},
    {"login discord", "", kLoginDiscord},
    {"login kick", "", kLoginKick},
    {"accounts", "", kAccountsOnly},
    {"logout", "NAME", kAccountsOnly},
    {"scrobble", "SET", kScrobble},
    {"mixcloud", "PLAYLIST", kMixcloud},
    {"discord", "SET", kDiscordCommand},
    {"settings", "", kSettingsCommand},
};

}  // namespace

std::span<const CommandDecl> commandDecls() { return kCommands; }

const CommandDecl* findCommandDecl(std::string_view name) {
  const auto* found =
      std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const CommandDecl& command) { return command.name == name; });
  return found == std::end(kCommands) ? nullptr : found;
}
