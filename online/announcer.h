// A sender of announcements ("Now playing: ...") to one service, on a thread of its own
// (the one worker pattern): live hands it each new text and never waits for it. Only the
// newest text waiting is kept, as an old "now playing" is worthless; a failed try is made
// again after the back-off, with the newest text by then. When the service says the
// account is gone, that is told once and nothing more is sent; live goes on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "online/request.h"
#include "online/worker.h"

class Announcer {
 public:
  // One try of sending a text; kLoginAgain ends the announcer, kRefused drops the text.
  using Send = std::function<Verdict(const std::string& text, const StopSignal& stop)>;
  // `service` names it in messages ("Discord"); `gone` is told once on kLoginAgain.
  Announcer(std::string service, Send send, std::string gone, Clock& clock = systemClock());
  // The newest text to announce, in place of one still waiting. Never waits.
  void announce(std::string text);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  Worker worker_;
};
