#include "setlist/live_poller.h"

#include <iostream>

#include "platform/platform.h"
#include "tracker/deck_view.h"

LivePoller::~LivePoller() { disconnect(); }

// Opens and maps the block by either name. A block shorter than the view counts as not
// there yet.
void LivePoller::connect() {
  for (const char* name : {kBlockName, kBlockNameAlternative}) {
    platform::Error err;
    platform::Handle handle = platform::openBlock(name, &err);
    if (!handle) continue;
    if (const char* view = platform::mapBlock(handle, kBlockSize, &err)) {
      std::cout << "setlist: connected to " << name << "\n" << std::flush;
      name_ = name;
      handle_ = std::move(handle);
      view_ = view;
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
    std::cout << "setlist: the DJ application removed " << name_
              << "; waiting for it to share its decks again\n"
              << std::flush;
    disconnect();
    toldWaiting_ = true;
    // A new DJ application starts with empty decks, which are no played tracks.
    tracking_ = Tracking{settings_, {}, {}};
  }
  if (view_ == nullptr) connect();
  if (view_ == nullptr) {
    if (!toldWaiting_) {
      std::cout << "setlist: waiting for the DJ application to share its decks as " << kBlockName
                << " or " << kBlockNameAlternative << "\n"
                << std::flush;
      toldWaiting_ = true;
    }
    return {};
  }
  const BlockView view{view_};
  const PollReports reports = ::poll(tracking_, readDeck(view, Deck::kLeft, Charset::kUtf8),
                                     readDeck(view, Deck::kRight, Charset::kUtf8));
  std::vector<Played> played;
  for (int i = 0; i < reports.count; ++i) played.push_back({reports.decks[i], reports.tracks[i]});
  return played;
}
