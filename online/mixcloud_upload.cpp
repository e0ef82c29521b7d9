// setlist mixcloud: uploads the recording of a set to Mixcloud as a show, its tracklist
// timed as in a CUE sheet, the audio streamed from disk.
#include "online/mixcloud.h"

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
#include "platform/console.h"
#include "platform/file_identity.h"
#include "platform/report.h"
#include "publish/formats.h"
#include "publish/recording.h"
#include "publish/set_reader.h"
#include "publish/track_rules.h"
#include "setfile/text.h"

namespace {

std::size_t characters(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

std::string fileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A value of a form part's header: '"', CR and LF percent-encoded, as browsers send them.
std::string headerValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '"') {
      out += "%22";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void addField(const std::string& boundary, const std::string& name, std::string_view value,
              std::vector<platform::BodyPart>* body) {
  std::string part =
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
  part.append(value).append("\r\n");
  if (!body->empty() && body->back().filePath.empty()) {
    body->back().bytes += part;
  } else {
    body->push_back({part, ""});
  }
}

void addFile(const std::string& boundary, const std::string& name, const std::string& path,
             const char* type, std::vector<platform::BodyPart>* body) {
  std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                     "\"; filename=\"" + headerValue(fileName(path)) +
                     "\"\r\nContent-Type: " + type + "\r\n\r\n";
  if (!body->empty() && body->back().filePath.empty()) {
    body->back().bytes += head;
  } else {
    body->push_back({head, ""});
  }
  body->push_back({"", path});
  body->push_back({"\r\n", ""});
}

}  // namespace

std::vector<std::string> showFaults(const MixcloudShow& show, const ShowFiles& files) {
  std::vector<std::string> faults;
  if (show.name.find_first_not_of(" \t") == std::string::npos) {
    faults.push_back("--name: a show needs a name");
  }
  if (show.tags.size() > kMixcloudMostTags) {
    faults.push_back("--tags: " + std::to_string(show.tags.size()) +
                     " tags, and Mixcloud takes at most 5");
  }
  if (const std::size_t length = characters(show.description);
      length > kMixcloudLongestDescription) {
    faults.push_back("--description: " + std::to_string(length) +
                     " characters, and Mixcloud takes at most 1000");
  }
  if (!show.picture.empty() && !files.pictureBytes) {
    faults.push_back(show.picture + ": the picture cannot be read");
  } else if (files.pictureBytes && *files.pictureBytes > kMixcloudLargestPicture) {
    faults.push_back(show.picture + ": the picture has " + std::to_string(*files.pictureBytes) +
                     " bytes, and Mixcloud takes at most 10 MB (10485760 bytes)");
  }
  if (!files.audioBytes) {
    faults.push_back(show.audio + ": the audio file cannot be read");
  } else if (*files.audioBytes == 0) {
    faults.push_back(show.audio + ": the audio file is empty");
  }
  return faults;
}

std::vector<platform::BodyPart> multipartBody(const MixcloudShow& show,
                                              const std::string& boundary) {
  std::vector<platform::BodyPart> body;
  addField(boundary, "name", show.name, &body);
  if (!show.description.empty()) addField(boundary, "description", show.description, &body);
  for (std::size_t i = 0; i < show.tags.size(); ++i) {
    addField(boundary, "tags-" + std::to_string(i) + "-tag", show.tags[i], &body);
  }
  for (std::size_t i = 0; i < show.sections.size(); ++i) {
    const std::string prefix = "sections-" + std::to_string(i) + "-";
    const MixcloudSection& section = show.sections[i];
    addField(boundary, prefix + "artist", section.artist, &body);
    addField(boundary, prefix + "song", section.song, &body);
    addField(boundary, prefix + "start_time", std::to_string(section.startSeconds), &body);
  }
  if (!show.picture.empty()) addFile(boundary, "picture", show.picture, "image/jpeg", &body);
  addFile(boundary, "mp3", show.audio, "audio/mpeg", &body);
  body.push_back({"--" + boundary + "--\r\n", ""});
  return body;
}

platform::Expected<std::string> uploadResult(const platform::HttpResponse& response,
                                             const std::string& site) {
  const auto json = parseJson(response.body);
  if (json) {
    const JsonValue& result = (*json)["result"];
    if (response.status / 100 == 2 && result["success"].boolean() &&
        !result["key"].string().empty()) {
      return site + result["key"].string();
    }
    const JsonValue& error = (*json)["error"];
    std::string message = error["message"].string();
    if (message.empty()) message = result["message"].string();
    // The fields it found fault with: {"details": {"name": ["This field is required."]}}.
    for (const auto& [field, reasons] : (*json)["details"].members()) {
      message += (message.empty() ? "" : "; ") + field + ":";
      for (const JsonValue& reason : reasons.array()) message += " " + reason.string();
    }
    if (response.status == 401) {
      return platform::makeError("Mixcloud refused the upload",
                                 (message.empty() ? "the token was refused" : message) +
                                     ": log in again: setlist login mixcloud");
    }
    if (!message.empty()) return platform::makeError("Mixcloud refused the upload", message);
  }
  std::string text = response.body.substr(0, 200);
  for (char& c : text) c = c == '\r' || c == '\n' ? ' ' : c;
  return platform::makeError(
      "Mixcloud refused the upload",
      "HTTP " + std::to_string(response.status) + (text.empty() ? "" : ": " + text));
}

namespace {

struct UploadOptions {
  MixcloudShow show;
  std::string set;
  std::string accounts;
  std::optional<int> start;
  RecordingOptions recording;
  bool dryRun = false;
  bool playlistOnly = false;
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
  options.accounts = accountsFile(arguments);
  options.start = arguments.clock("--start");
  options.recording = recordingOptions(arguments);
  options.dryRun = arguments.given("--dry-run");
  options.playlistOnly = arguments.given("--playlist-only");
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
  appendNumber(seconds / 3600, 1, &text);
  text.push_back(':');
  appendNumber(seconds / 60 % 60, 2, &text);
  text.push_back(':');
  appendNumber(seconds % 60, 2, &text);
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

// A progress line on stderr, rewritten at most twice a second: percent, MB/s, time left.
class Progress {
 public:
  void operator()(std::uint64_t sent, std::uint64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (sent < total && now - shown_ < std::chrono::milliseconds(500)) return;
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - began_).count();
    const double rate = seconds > 0 ? static_cast<double>(sent) / seconds : 0;
    const double left = rate > 0 ? static_cast<double>(total - sent) / rate : 0;
    const auto leftSeconds = static_cast<std::int64_t>(left);
    std::fprintf(stderr, "\rsending %3d%%  %.1f MB/s  %s left ",
                 total > 0 ? static_cast<int>(sent * 100 / total) : 100, rate / 1e6,
                 clockText(leftSeconds).c_str());
    if (sent >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
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
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", record.time.tm_hour, record.time.tm_min,
                  record.time.tm_sec);
    names += (i > 0 ? ", " : "") + std::string(clock) + " " + deckLetter(record.deck) + " \"" +
             record.track.artist + " - " + record.track.song + "\"";
  }
  const bool one = blank.size() == 1;
  platform::reportNote(set + ": " + std::to_string(blank.size()) +
                       (one ? " track has" : " tracks have") + " no artist or no song and " +
                       (one ? "is" : "are") + " left out of the sections: " + names +
                       (blank.size() > 10 ? ", ..." : ""));
}

}  // namespace

int runMixcloud(int argc, char** argv) {
  const Arguments arguments = readCommandLine("mixcloud", argc, argv);
  if (!arguments.runs()) return arguments.report();
  UploadOptions options = uploadOptions(arguments);
  MixcloudShow& show = options.show;

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
  const int start = options.start.value_or(firstTrackClock(tracks->front(), options.recording.at));
  RecordingPoints points(start, options.recording.at, options.recording.shiftMs);
  std::vector<const Record*> blank;  // Mixcloud shows a section without both texts as blank
  for (const Record& record : *tracks) {
    const std::int64_t pointMs = points.next(record);
    if (record.track.artist.empty() || record.track.song.empty()) {
      blank.push_back(&record);
      continue;
    }
    show.sections.push_back({record.track.artist, record.track.song, pointMs / 1000});
  }
  noteBlankSections(options.set, blank);
  if (points.startAfterFirst()) {
    platform::reportWarning("--start is after the first track of " + options.set +
                            "; the tracks before it start the show");
  }

  const ShowFiles files{fileSize(show.audio), fileSize(show.picture)};
  const std::vector<std::string> faults = showFaults(show, files);
  for (const std::string& fault : faults) platform::reportError(fault);
  if (!faults.empty()) return kStatusFailed;
  // The licence's rules: a show that breaks one may be muted, but it is the DJ's call.
  for (const std::string& line : brokenRuleLines(*tracks)) {
    platform::reportWarning(line);
  }

  const auto accounts = loadAccounts(options.accounts);
  const Account* account = accounts ? mixcloudAccount(*accounts) : nullptr;
  if (!accounts && !options.dryRun) return failed(accounts.error());
  const std::string api = account && !account->url.empty() ? account->url : kMixcloudApi;
  if (options.dryRun) {
    printDryRun(show, files, api);
    return kStatusOk;
  }
  if (!account || account->values.count("access_token") == 0) {
    return failed(platform::makeError(
        options.accounts, "no Mixcloud account: log in first with setlist login mixcloud"));
  }
  const std::string& token = account->values.at("access_token");
  const auto site = account->values.find("auth_url");

  const std::string boundary = randomBoundary();
  platform::HttpRequest request;
  request.method = "POST";
  request.url = api + "/upload/?access_token=" + platform::urlEncode(token);
  request.headers.push_back({"Content-Type", "multipart/form-data; boundary=" + boundary});
  request.body = multipartBody(show, boundary);
  request.readTimeoutSeconds = 300;  // Mixcloud answers once it has taken the whole file
  if (platform::isTerminal(platform::StandardStream::kError)) request.progress = Progress();
  platform::reportNote("sending " + show.audio + " (" + std::to_string(*files.audioBytes) +
                       " bytes) and " + std::to_string(show.sections.size()) + " sections to " +
                       api + "/upload/");
  const auto response = platform::sendRequest(request);
  if (!response) return failed(response.error());
  const auto address =
      uploadResult(*response, site != account->values.end() ? site->second : kMixcloudSite);
  if (!address) return failed(address.error());
  std::cout << *address << "\n" << std::flush;
  return kStatusOk;
}
