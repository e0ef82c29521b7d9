// setlist discord: the tracklist of a set, as setlist tracklist writes it with a title
// line first, posted to Discord webhooks in messages of at most 2,000 characters, in
// order. Each webhook that took every message is named in a small sent file beside the
// set, so that running it again posts again only with --again.
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "online/commands.h"
#include "online/discord.h"
#include "online/scrobbling.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "publish/formats.h"
#include "publish/set_reader.h"
#include "setfile/clock.h"

namespace {

// A post that fails is tried this many times, waiting up to a minute between tries.
constexpr BackoffPolicy kPostBackoff{.first = Seconds(2), .most = Seconds(60), .tries = 6};

struct Options {
  std::string set;
  std::vector<std::string> to;
  std::string title;
  std::optional<int> start;
  std::string username;
  std::string accountsPath;
  bool again = false;
};

Options optionsOf(const Arguments& arguments) {
  Options options;
  options.set = arguments.operands().front();
  options.to = arguments.values("--to");
  options.title = arguments.text("--title");
  options.start = arguments.clock("--start");
  options.username = arguments.text("--discord-username");
  options.accountsPath = accountsFile(arguments.text("--accounts"));
  options.again = arguments.given("--again");
  return options;
}

// The webhooks to post to: those --to names, else every Discord account.
platform::Expected<std::vector<DiscordTarget>> chooseTargets(const Options& options) {
  const auto accounts = loadAccounts(options.accountsPath);
  if (!accounts) return accounts.error();
  std::vector<std::string> names = options.to;
  if (names.empty()) {
    for (const Account& account : *accounts) {
      if (account.service == "discord") names.push_back(account.name);
    }
    if (names.empty()) {
      return platform::makeError(options.accountsPath,
                                 "no Discord webhook: log in first with setlist login discord");
    }
  }
  std::vector<DiscordTarget> targets;
  for (const std::string& name : names) {
    const Account* account = findAccount(*accounts, name);
    if (!account) {
      return platform::makeError(options.accountsPath,
                                 "no account named '" + name + "' (see setlist accounts)");
    }
    auto target = discordTarget(*account, options.accountsPath);
    if (!target) return target.error();
    targets.push_back(std::move(*target));
  }
  return targets;
}

// The title line and the tracklist, every title escaped so that Discord shows it as written.
platform::Expected<std::string> tracklistText(const Options& options) {
  auto records = readSetTracks(options.set, false);
  if (!records) return records.error();
  if (records->empty()) return platform::makeError(options.set, "holds no tracks");
  std::string title = options.title;
  if (title.empty()) {
    title = "Tracklist of ";
    appendIsoDate(records->front().time, &title);
  }
  std::string text = discordEscape(title) + "\n";
  TracklistFormat format(options.start);
  for (Record& record : *records) {
    record.track.artist = discordEscape(record.track.artist);
    record.track.song = discordEscape(record.track.song);
    format.record(record, &text);
  }
  if (format.startAfterFirst()) {
    platform::reportWarning("--start is after the first track of " + options.set +
                            "; the tracks before it are timed 00:00:00");
  }
  return text;
}

// The sent file beside the set, X.discord for X.txt: the name of each webhook that took
// the whole tracklist, one a line.
std::string sentFile(const std::string& set) {
  std::string path = sentFileBeside(set);
  return path.substr(0, path.rfind('.')) + ".discord";
}

std::set<std::string> postedTo(const std::string& path) {
  std::set<std::string> names;
  const auto contents = platform::readWholeFile(path);
  if (!contents) return names;
  std::string_view rest = *contents;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) break;  // a line a killed run left unfinished
    names.emplace(rest.substr(0, rest.find('\t')));
    rest.remove_prefix(end + 1);
  }
  return names;
}

platform::Status notePosted(const std::string& path, const std::string& name) {
  const auto old = platform::readWholeFile(path);
  std::string contents = old ? *old : std::string();
  if (!contents.empty() && !contents.ends_with('\n')) contents += '\n';
  contents += name + "\t" + isoTimeNow() + "\n";
  return platform::replaceFileContents(path, contents);
}

// Posts every message to one webhook, in order; the exit status.
int postAll(const DiscordTarget& target, const Options& options,
            const std::vector<std::string>& messages) {
  DiscordPoster poster(target, options.username, systemClock(), kPostBackoff);
  const StopSignal stop;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const Verdict verdict = poster.post(messages[i], stop);
    if (verdict.outcome == Outcome::kDone) continue;
    if (verdict.outcome == Outcome::kStopped) return kStatusStopped;
    const std::string why =
        verdict.outcome == Outcome::kLoginAgain ? discordGone(target.name) : verdict.message;
    return failed(platform::makeError(target.name, std::to_string(i) + " of " +
                                                       std::to_string(messages.size()) +
                                                       " messages were posted: " + why));
  }
  if (const platform::Status noted = notePosted(sentFile(options.set), target.name); !noted) {
    platform::reportWarning(noted.error());
  }
  std::cout << "posted the tracklist of " << options.set << " to " << target.name << " in "
            << messages.size() << (messages.size() == 1 ? " message\n" : " messages\n")
            << std::flush;
  return kStatusOk;
}

}  // namespace

int runDiscord(int argc, char** argv) {
  const Arguments arguments = readCommandLine("discord", argc, argv);
  if (!arguments.runs()) return arguments.report();
  const Options options = optionsOf(arguments);
  const auto targets = chooseTargets(options);
  if (!targets) return failed(targets.error());
  const auto text = tracklistText(options);
  if (!text) return failed(text.error());
  const std::vector<std::string> messages = splitMessages(*text);
  const std::set<std::string> posted = postedTo(sentFile(options.set));
  platform::installStopHandler();
  int status = kStatusOk;
  for (const DiscordTarget& target : *targets) {
    if (!options.again && posted.count(target.name) > 0) {
      platform::reportNote(target.name + " has this tracklist already (" + sentFile(options.set) +
                           "); --again posts it again");
      continue;
    }
    if (const int posting = postAll(target, options, messages); posting != kStatusOk) {
      if (posting == kStatusStopped) return posting;
      status = posting;
    }
  }
  return status;
}
