#include "live/live_outputs.h"

#include <iostream>
#include <utility>

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

void LiveOutputs::add(ShownTrack track) {
  set_.push_back(std::move(track));
  show();
  for (const auto& announcer : announcers_) announcer->show(set_.back());
}

void LiveOutputs::show() {
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
  if (server_ && onAir != nullptr) {
    std::vector<std::string> history;
    for (auto shown = set_.rbegin(); shown != set_.rend() && history.size() < kHistoryKept;
         ++shown) {
      history.push_back(trackJson(*shown));
    }
    server_->publish({nowPlayingJson(onAir, before), now, setJson(set_), std::move(history)});
  }
  if (chat_) chat_->show({now, earlier, set_.size()});
}

void LiveOutputs::writePending() {
  for (KeptFile* file : files()) writeFile(*file);
}
