// setlist mixcloud: uploads the recording of a set to Mixcloud as a show, its tracklist
// timed as in a CUE sheet, the audio streamed from disk.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <string_view>

#include "cli/cli.h"
#include "cli/options.h"
#include "online/accounts.h"
#include "online/commands.h"
#include "online/json.h"
#include "online/mixcloud.h"
#include "platform/console.h"
#include "platform/file_identity.h"
#include "platform/report.h"
#include "platform/web_body.h"
#include "publish/formats.h"
#include "publish/recording.h"
#include "publish/set_reader.h"
#include "publish/title_clean.h"
#include "publish/track_rules.h"
#include "setfile/clock.h"
#include "setfile/text.h"

namespace {

struct UploadOptions {
  MixcloudShow show;
  std::string set;
  std::string accounts;
  std::optional<int> start;
  RecordingOptions recording;
  bool dryRun = false;
  bool playlistOnly = false;
  TitleCleaning cleaning;  // the sections' texts, with --clean
};

// The options of the command line, read by the option table.
UploadOptions uploadOptions(const Arguments& arguments) {
  UploadOptions options;
  options.set = arguments.operands().front();
  options.show.audio = arguments.text("--audio");
  options.show.name = arguments.text("--name");
  options.show.description = arguments.text("--description");
  options.show.tags = arguments.values("--tags");
  options.show.picture = arguments.text("--picture");
  options.accounts = accountsFile(arguments.text("--accounts"));
  options.start = arguments.clock("--start");
  options.recording = recordingOptions(arguments);
  options.dryRun = arguments.given("--dry-run");
  options.playlistOnly = arguments.given("--playlist-only");
  options.cleaning = TitleCleaning(arguments);
  return options;
}

// The size of a regular file; nothing when it is missing, unreadable or no file.
std::optional<std::uint64_t> fileSize(const std::string& path) {
  platform::FileStatus status;
  if (path.empty() || platform::statPath(path, &status, nullptr) != platform::StatResult::kFound ||
      !status.regular) {
    return std::nullopt;
  }
  return status.size;
}

// The seconds after midnight of the first track's time, as --at takes it.
int firstTrackClock(const Record& first, PointTime at) {
  const std::tm& time = at == PointTime::kLoaded && first.loaded ? first.loaded->local : first.time;
  return time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}

std::string clockText(std::int64_t seconds) {
  std::string text;
  appendDuration(seconds, 1, &text);
  return text;
}

void printSection(const MixcloudShow& show, std::size_t i) {
  const MixcloudSection& section = show.sections[i];
  const std::string prefix = "sections-" + std::to_string(i) + "-";
  std::cout << prefix << "artist: " << section.artist << "\n"
            << prefix << "song: " << section.song << "\n"
            << prefix << "start_time: " << section.startSeconds << " ("
            << clockText(section.startSeconds) << ")\n";
}

void printDryRun(const MixcloudShow& show, const ShowFiles& files, const std::string& api) {
  std::cout << "would upload to " << api << "/upload/\n"
            << "name: " << show.name << "\n";
  if (!show.description.empty()) std::cout << "description: " << show.description << "\n";
  for (std::size_t i = 0; i < show.tags.size(); ++i) {
    std::cout << "tags-" << i << "-tag: " << show.tags[i] << "\n";
  }
  if (!show.picture.empty()) {
    std::cout << "picture: " << show.picture << " (" << files.pictureBytes.value_or(0)
              << " bytes)\n";
  }
  std::cout << "mp3: " << show.audio << " (" << files.audioBytes.value_or(0) << " bytes)\n";
  if (!show.sections.empty()) printSection(show, 0);
  if (show.sections.size() > 2) {
    std::cout << "... " << show.sections.size() - 2 << " more sections ...\n";
  }
  if (show.sections.size() > 1) printSection(show, show.sections.size() - 1);
  std::cout << std::flush;
}

// A progress line, rewritten at most twice a second: percent, MB/s, time left.
class Progress {
 public:
  void operator()(std::uint64_t sent, std::uint64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (sent < total && now - shown_ < std::chrono::milliseconds(500)) return;
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - began_).count();
    const double rate = seconds > 0 ? static_cast<double>(sent) / seconds : 0;
    const double left = rate > 0 ? static_cast<double>(total - sent) / rate : 0;
    char line[96];
    std::snprintf(line, sizeof line, "sending %3d%%  %.1f MB/s  %s left ",
                  total > 0 ? static_cast<int>(sent * 100 / total) : 100, rate / 1e6,
                  clockText(static_cast<std::int64_t>(left)).c_str());
    platform::reportCount(line, sent >= total);
  }

 private:
  std::chrono::steady_clock::time_point began_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_;
};

// The account named mixcloud, else the first Mixcloud account (login's --name renames it).
const Account* mixcloudAccount(const std::vector<Account>& accounts) {
  if (const Account* named = findAccount(accounts, "mixcloud")) return named;
  for (const Account& account : accounts) {
    if (account.service == "mixcloud") return &account;
  }
  return nullptr;
}

std::string randomBoundary() {
  std::random_device random;
  std::string boundary = "----setlist";
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    boundary += part;
  }
  return boundary;
}

// Tracks without artist or song, left out of the sections, named in one note.
void noteBlankSections(const std::string& set, const std::vector<const Record*>& blank) {
  if (blank.empty()) return;
  std::string names;
  for (std::size_t i = 0; i < blank.size() && i < 10; ++i) {
    const Record& record = *blank[i];
    std::string clock;
    appendTimeOfDay(record.time, &clock);
    names += (i > 0 ? ", " : "") + clock + " " + deckLetter(record.deck) + " \"" +
             record.track.artist + " - " + record.track.song + "\"";
  }
  const bool one = blank.size() == 1;
  platform::reportNote(set + ": " + std::to_string(blank.size()) +
                       (one ? " track has" : " tracks have") + " no artist or no song and " +
                       (one ? "is" : "are") + " left out of the sections: " + names +
                       (blank.size() > 10 ? ", ..." : ""));
}

// The show's sections: each track with both texts, timed as --start and --at say.
void addSections(const UploadOptions& options, const std::vector<Record>& tracks,
                 MixcloudShow* show) {
  const int start = options.start.value_or(firstTrackClock(tracks.front(), options.recording.at));
  RecordingPoints points(start, options.recording.at, options.recording.shiftMs);
  std::vector<const Record*> blank;  // Mixcloud shows a section without both texts as blank
  for (const Record& record : tracks) {
    const std::int64_t pointMs = points.next(record);
    if (record.track.artist.empty() || record.track.song.empty()) {
      blank.push_back(&record);
      continue;
    }
    Track shown = options.cleaning.track(record.track);
    show->sections.push_back({std::move(shown.artist), std::move(shown.song), pointMs / 1000});
  }
  noteBlankSections(options.set, blank);
  if (points.startAfterFirst()) {
    platform::reportWarning("--start is after the first track of " + options.set +
                            "; the tracks before it start the show");
  }
}

// Whether the show may go: its faults are told. The licence's rules are warned of: a show
// that breaks one may be muted, but it is the DJ's call.
bool mayGo(const MixcloudShow& show, const ShowFiles& files, const std::vector<Record>& tracks) {
  const std::vector<std::string> faults = showFaults(show, files);
  for (const std::string& fault : faults) platform::reportError(fault);
  if (!faults.empty()) return false;
  for (const std::string& line : brokenRuleLines(tracks)) platform::reportWarning(line);
  return true;
}

// The upload's request: the show as a multipart body, the audio streamed from disk.
platform::HttpRequest uploadRequest(const MixcloudShow& show, const std::string& url) {
  const std::string boundary = randomBoundary();
  platform::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.headers = {{"Content-Type", "multipart/form-data; boundary=" + boundary},
                     {"User-Agent", userAgent()}};
  request.body = multipartBody(show, boundary);
  request.readTimeoutSeconds = 300;  // Mixcloud answers once it has taken the whole file
  if (platform::isTerminal(platform::StandardStream::kError)) request.progress = Progress();
  return request;
}

// Sends the show to the account's Mixcloud, or shows what would be sent (--dry-run).
int upload(const UploadOptions& options, const ShowFiles& files) {
  const auto accounts = loadAccounts(options.accounts);
  const Account* account = accounts ? mixcloudAccount(*accounts) : nullptr;
  if (!accounts && !options.dryRun) return failed(accounts.error());
  const std::string api = account && !account->url.empty() ? account->url : kMixcloudApi;
  if (options.dryRun) {
    printDryRun(options.show, files, api);
    return kStatusOk;
  }
  if (!account || account->values.count("access_token") == 0) {
    return failed(platform::makeError(
        options.accounts, "no Mixcloud account: log in first with setlist login mixcloud"));
  }
  const std::string url =
      api + "/upload/?access_token=" + platform::urlEncode(account->values.at("access_token"));
  const auto site = account->values.find("auth_url");
  platform::reportNote("sending " + options.show.audio + " (" + std::to_string(*files.audioBytes) +
                       " bytes) and " + std::to_string(options.show.sections.size()) +
                       " sections to " + api + "/upload/");
  const auto response = platform::sendRequest(uploadRequest(options.show, url));
  if (!response) return failed(response.error());
  const auto address =
      uploadResult(*response, url, site != account->values.end() ? site->second : kMixcloudSite);
  if (!address) return failed(address.error());
  std::cout << *address << "\n" << std::flush;
  return kStatusOk;
}

}  // namespace

int runMixcloud(int argc, char** argv) {
  const Arguments arguments = readCommandLine("mixcloud", argc, argv);
  if (!arguments.runs()) return arguments.report();
  UploadOptions options = uploadOptions(arguments);
  const auto tracks = readSetTracks(options.set, options.playlistOnly);
  if (!tracks) return failed(tracks.error());
  if (tracks->empty()) {
    return failed(
        platform::makeError(options.set, "holds no tracks: there is no tracklist to send"));
  }
  if (options.recording.at == PointTime::kLoaded && !tracks->front().utcOffset) {
    return usageError(wrongCommandLine("--at loaded needs the set log (.jsonl) beside " +
                                       options.set + ", and none was read"),
                      "mixcloud");
  }
  addSections(options, *tracks, &options.show);
  const ShowFiles files{fileSize(options.show.audio), fileSize(options.show.picture)};
  if (!mayGo(options.show, files, *tracks)) return kStatusFailed;
  return upload(options, files);
}
