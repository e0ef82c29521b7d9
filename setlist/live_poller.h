// live's view of the DJ application: the shared block, found under either name and opened
// again when the application removes it, and the tracker's rules applied to its decks
// once a poll.
#pragma once

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

 private:
  void connect();
  void disconnect();

  RunSettings settings_;
  Tracking tracking_;
  const char* name_ = nullptr;
  platform::Handle handle_;
  const char* view_ = nullptr;
  bool toldWaiting_ = false;
};
