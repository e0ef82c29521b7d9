// live's view of the DJ application: the shared block, found under either name and opened
// again when the application removes it, and the tracker's rules applied to its decks
// once a poll.
#pragma once

#include <functional>
#include <vector>

#include "platform/handle.h"
#include "setfile/track.h"
#include "tracker/tracking.h"

class LivePoller {
 public:
  explicit LivePoller(const RunSettings& settings)
      : settings_(settings), tracking_{settings, {}, {}} {}
  ~LivePoller();
  LivePoller(const LivePoller&) = delete;
  LivePoller& operator=(const LivePoller&) = delete;

  // A track the rules decided on.
  struct Played {
    Deck deck;
    Track track;
  };

  // Connects when not connected, then reads the decks (every character, as UTF-8) and
  // gives the tracks played. Says on standard output when it waits for the application,
  // connects, or loses the block.
  std::vector<Played> poll();

  // Called by each poll that read the decks, with both as read and what the rules decided
  // on them: to look at a load before its track is played.
  using DeckWatcher =
      std::function<void(const Track& left, const Track& right, const PollReports& reports)>;
  void watchDecks(DeckWatcher watcher) { watcher_ = std::move(watcher); }

 private:
  void connect();
  void disconnect();

  RunSettings settings_;
  Tracking tracking_;
  const char* name_ = nullptr;
  platform::Handle handle_;
  const char* view_ = nullptr;
  bool toldWaiting_ = false;
  DeckWatcher watcher_;
};
