// Mixcloud's upload: what it takes of a show, the multipart body that carries it and what
// its answer means.
#include <string>
#include <string_view>
#include <vector>

#include "online/json.h"
#include "online/mixcloud.h"
#include "online/request.h"
#include "platform/web_body.h"
#include "platform/web_client.h"
#include "setfile/text.h"

std::vector<std::string> showFaults(const MixcloudShow& show, const ShowFiles& files) {
  std::vector<std::string> faults;
  if (show.name.find_first_not_of(" \t") == std::string::npos) {
    faults.push_back("--name: a show needs a name");
  }
  if (show.tags.size() > kMixcloudMostTags) {
    faults.push_back("--tags: " + std::to_string(show.tags.size()) +
                     " tags, and Mixcloud takes at most 5");
  }
  if (const std::size_t length = utf8Characters(show.description);
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
  platform::addFormField(boundary, "name", show.name, &body);
  if (!show.description.empty())
    platform::addFormField(boundary, "description", show.description, &body);
  for (std::size_t i = 0; i < show.tags.size(); ++i) {
    platform::addFormField(boundary, "tags-" + std::to_string(i) + "-tag", show.tags[i], &body);
  }
  for (std::size_t i = 0; i < show.sections.size(); ++i) {
    const std::string prefix = "sections-" + std::to_string(i) + "-";
    const MixcloudSection& section = show.sections[i];
    platform::addFormField(boundary, prefix + "artist", section.artist, &body);
    platform::addFormField(boundary, prefix + "song", section.song, &body);
    platform::addFormField(boundary, prefix + "start_time", std::to_string(section.startSeconds),
                           &body);
  }
  if (!show.picture.empty())
    platform::addFormFile(boundary, "picture", show.picture, "image/jpeg", &body);
  platform::addFormFile(boundary, "mp3", show.audio, "audio/mpeg", &body);
  platform::endForm(boundary, &body);
  return body;
}

std::string mixcloudWords(const JsonValue& json) {
  std::string words = json["error"]["message"].string();
  if (words.empty()) words = json["result"]["message"].string();
  if (words.empty()) words = json["error"].string();
  // The fields it found fault with: {"details": {"name": ["This field is required."]}}.
  for (const auto& [field, reasons] : json["details"].members()) {
    words += (words.empty() ? "" : "; ") + field + ":";
    for (const JsonValue& reason : reasons.array()) words += " " + reason.string();
  }
  return words;
}

platform::Expected<std::string> uploadResult(const platform::HttpResponse& response,
                                             const std::string& url, const std::string& site) {
  const std::string subject = platform::urlSubject(url);
  const auto json = parseJson(response.body);
  if (json) {
    const JsonValue& result = (*json)["result"];
    if (response.status / 100 == 2 && result["success"].boolean() &&
        !result["key"].string().empty()) {
      return site + result["key"].string();
    }
    const std::string message = mixcloudWords(*json);
    if (response.status == 401) {
      return platform::makeError(
          subject,
          "Mixcloud refused the upload: " + (message.empty() ? "the token was refused" : message) +
              ": log in again: setlist login mixcloud");
    }
    if (!message.empty()) {
      return platform::makeError(subject, "Mixcloud refused the upload: " + message);
    }
  }
  return platform::makeError(subject, "Mixcloud refused the upload: HTTP " +
                                          std::to_string(response.status) + ": " +
                                          bodyExcerpt(response.body));
}
