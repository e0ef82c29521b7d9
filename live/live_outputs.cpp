#include "live/live_outputs.h"

#include <algorithm>
#include <iostream>
#include <utility>

#include "online/request.h"
#include "platform/output_file.h"
#include "platform/report.h"

namespace {

void writeFile(KeptFile& file) {
  if (!file.pending) return;
  const platform::Status written = platform::replaceFileContents(file.path, file.contents);
  if (written) {
    if (!file.failure.empty()) platform::reportError(file.path + " is written again");
    file.pending = false;
    file.failure.clear();
  } else if (const platform::Error& err = written.error(); err.text != file.failure) {
    platform::reportError(platform::makeError("cannot write " + file.path,
                                              err.text + "; trying again at every poll"));
    file.failure = err.text;
  }
}

}  // namespace

LiveOutputs::LiveOutputs(std::string nowPlaying, std::string previous, std::string page) {
  nowPlaying_.path = std::move(nowPlaying);
  previous_.path = std::move(previous);
  page_.path = std::move(page);
}

std::vector<KeptFile*> LiveOutputs::files() {
  std::vector<KeptFile*> given;
  for (KeptFile* file : {&nowPlaying_, &previous_, &page_}) {
    if (!file->path.empty()) given.push_back(file);
  }
  return given;
}

platform::Status LiveOutputs::checkWritable() {
  for (KeptFile* file : files()) {
    platform::OutputFile probe;
    if (platform::Status opened = probe.open(file->path); !opened) {
      return platform::Error{opened.error().code, file->path, opened.error().text};
    }
    probe.discard();
  }
  return {};
}

platform::Status LiveOutputs::serve(const ServeAddress& address,
                                    const std::vector<std::string>& allowedHosts,
                                    live::Theme theme) {
  platform::Expected<std::unique_ptr<LiveServer>> server =
      startLiveServer(address, allowedHosts, servedOverlayPage(), std::move(theme),
                      {nowPlayingJson(nullptr, nullptr), "", setJson({}), {}});
  if (!server) return server.status();
  server_ = std::move(*server);
  const std::string origin = server_->origin();
  platform::reportProgress("serving on " + address.host + ":" + std::to_string(address.port));
  std::cout << "  overlay page for a browser source: " << origin << "/\n"
            << "  for chat bots: " << origin << "/now-playing.txt and " << origin
            << "/now-playing.json\n"
            << "  the set so far: " << origin << "/set.json; events: " << origin << "/events\n";
  if (origin.find(address.host) == std::string::npos) {
    std::cout << "  from another computer: this computer's address instead of "
              << origin.substr(7, origin.rfind(':') - 7) << "\n";
  }
  std::cout << std::flush;
  return {};
}

void releaseArtBeyondHistory(std::vector<ShownTrack>& set) {
  if (set.size() > kHistoryKept) set[set.size() - kHistoryKept - 1].art = nullptr;
}

void LiveOutputs::lookUpArtwork(ArtworkServices services, std::string folder) {
  artwork_ = std::make_unique<ArtworkLookup>(
      std::move(services), std::move(folder),
      [this](std::uint64_t ticket, KnownArt art) { artFound(ticket, art); });
}

void LiveOutputs::add(ShownTrack track) {
  if (presence_) {
    presence_->show(
        PresenceActivity{track.track.song, track.track.artist, systemClock().unixSeconds()});
  }
  std::optional<KnownArt> art;
  if (artwork_) {
    track.artLookedUp = true;
    art = artwork_->known(track.track);
    if (art) track.art = *art;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  set_.push_back(std::move(track));
  releaseArtBeyondHistory(set_);
  if (artwork_ && !art) artwork_->request(set_.size() - 1, set_.back().track);
  showSet();
  for (const auto& announcer : announcers_) announcer->show(set_.back());
}

void LiveOutputs::artFound(std::uint64_t ticket, KnownArt art) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // No art changes nothing shown; the art of a track long gone is not served any more.
  if (!art || ticket >= set_.size() || ticket + kHistoryKept < set_.size()) return;
  set_[ticket].art = std::move(art);
  publishDocuments();
}

void LiveOutputs::show() {
  const std::lock_guard<std::mutex> lock(mutex_);
  showSet();
}

void LiveOutputs::showSet() {
  const ShownTrack* onAir = set_.empty() ? nullptr : &set_.back();
  const ShownTrack* before = set_.size() < 2 ? nullptr : &set_[set_.size() - 2];
  const std::string now = onAir != nullptr ? onAir->text : "";
  const std::string earlier = before != nullptr ? before->text : "";
  nowPlaying_.contents = now;
  previous_.contents = earlier;
  page_.contents = overlayPage(now, earlier);
  for (KeptFile* file : files()) file->pending = true;
  writePending();
  // The server starts with the blank state itself.
  if (onAir != nullptr) publishDocuments();
  if (chat_) chat_->show({now, earlier, set_.size()});
}

void LiveOutputs::publishDocuments() {
  if (!server_) return;
  const ShownTrack* before = set_.size() < 2 ? nullptr : &set_[set_.size() - 2];
  LiveDocuments documents{nowPlayingJson(&set_.back(), before), set_.back().text, setJson(set_)};
  for (auto shown = set_.rbegin(); shown != set_.rend() && documents.history.size() < kHistoryKept;
       ++shown) {
    documents.history.push_back(trackJson(*shown));
    const bool named =
        std::find(documents.art.begin(), documents.art.end(), shown->art) != documents.art.end();
    if (shown->art && !named) documents.art.push_back(shown->art);
  }
  server_->publish(std::move(documents));
}

void LiveOutputs::writePending() {
  for (KeptFile* file : files()) writeFile(*file);
}
