// Mixcloud: a recorded set uploaded as a show with its timed tracklist (mixcloud_upload.cpp;
// the command is in mixcloud_command.cpp), and the login that gives setlist an access token
// for it (mixcloud_login.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "online/json.h"
#include "online/online.h"
#include "platform/error.h"
#include "platform/web_client.h"

// Where Mixcloud authorizes (and shows its shows) and where its API takes uploads. A
// look-alike service, or a test's mock, replaces both with one root.
constexpr const char* kMixcloudSite = "https://www.mixcloud.com";
constexpr const char* kMixcloudApi = "https://api.mixcloud.com";

// Mixcloud's limits on an upload.
constexpr std::size_t kMixcloudMostTags = 5;
constexpr std::size_t kMixcloudLongestDescription = 1000;  // characters
constexpr std::uint64_t kMixcloudLargestPicture = 10 * 1024 * 1024;

struct MixcloudSection {
  std::string artist;
  std::string song;
  std::int64_t startSeconds = 0;
};

struct MixcloudShow {
  std::string name;
  std::string description;
  std::vector<std::string> tags;
  std::string picture;  // a file, or empty
  std::string audio;    // the recording's file
  std::vector<MixcloudSection> sections;
};

// The sizes of the show's files, when they could be looked at.
struct ShowFiles {
  std::optional<std::uint64_t> audioBytes;
  std::optional<std::uint64_t> pictureBytes;
};

// What keeps the show from being sent, one reason each: no name, more than 5 tags, a
// description over 1000 characters, a picture over 10 MB, an audio file that is missing or
// empty. Empty when it may go.
std::vector<std::string> showFaults(const MixcloudShow& show, const ShowFiles& files);

// The show as a multipart/form-data body between `boundary` lines: name, description,
// tags-N-tag, sections-N-artist, -song and -start_time, then picture and mp3 as files
// streamed from disk.
std::vector<platform::BodyPart> multipartBody(const MixcloudShow& show,
                                              const std::string& boundary);

// Mixcloud's words in an error answer: error.message (else result.message, else error)
// and the fields it found fault with. Empty when it has none.
std::string mixcloudWords(const JsonValue& json);

// The show's address from Mixcloud's answer to the upload to `url` (its key on `site`), or
// its message, which names the URL without its token, when it refused.
platform::Expected<std::string> uploadResult(const platform::HttpResponse& response,
                                             const std::string& url, const std::string& site);

// setlist login mixcloud: the client secret read from standard input, the authorize page
// printed, the code taken by a one-shot listener on 127.0.0.1 (--port, else any free port)
// and exchanged for an access token. `--url` stands for both of Mixcloud's roots.
platform::Expected<LoginResult> loginMixcloud(const LoginRequest& login);
