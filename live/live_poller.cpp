#include "live/live_poller.h"

#include <string>

#include "platform/platform.h"
#include "platform/report.h"
#include "tracker/deck_view.h"

LivePoller::~LivePoller() { disconnect(); }

// Opens and maps the block by either name. A block shorter than the view counts as not
// there yet.
void LivePoller::connect() {
  for (const char* name : {kBlockName, kBlockNameAlternative}) {
    platform::Expected<platform::Handle> handle = platform::openBlock(name);
    if (!handle) continue;
    if (const platform::Expected<const char*> view = platform::mapBlock(*handle, kBlockSize)) {
      platform::reportProgress(std::string("connected to ") + name);
      name_ = name;
      handle_ = std::move(*handle);
      view_ = *view;
      return;
    }
  }
}

void LivePoller::disconnect() {
  if (view_ == nullptr) return;
  platform::unmapBlock(view_, kBlockSize);
  name_ = nullptr;
  handle_ = platform::Handle();
  view_ = nullptr;
}

std::vector<LivePoller::Played> LivePoller::poll() {
  if (view_ != nullptr && platform::blockRemoved(handle_)) {
    platform::reportProgress(std::string("the DJ application removed ") + name_ +
                             "; waiting for it to share its decks again");
    disconnect();
    toldWaiting_ = true;
    // A new DJ application starts with empty decks, which are no played tracks.
    tracking_ = Tracking{settings_, {}, {}};
  }
  if (view_ == nullptr) connect();
  if (view_ == nullptr) {
    if (!toldWaiting_) {
      platform::reportProgress(
          std::string("waiting for the DJ application to share its decks as ") + kBlockName +
          " or " + kBlockNameAlternative);
      toldWaiting_ = true;
    }
    return {};
  }
  const BlockView view{view_};
  const Track left = readDeck(view, Deck::kLeft, Charset::kUtf8);
  const Track right = readDeck(view, Deck::kRight, Charset::kUtf8);
  const PollReports reports = ::poll(tracking_, left, right);
  if (watcher_) watcher_(left, right, reports);
  std::vector<Played> played;
  for (int i = 0; i < reports.count; ++i) played.push_back({reports.decks[i], reports.tracks[i]});
  return played;
}
