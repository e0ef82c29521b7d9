// The listener of OAuth's code flow with a loopback redirect (Mixcloud, and every later
// service that logs in so): the browser comes back to http://127.0.0.1:PORT/ with the
// code. Connections are served side by side, each with a short read time-out, so an idle
// one (a browser's preconnect, a port scan) holds nothing up; only an answer that carries
// the `state` this login sent is taken, so no other local page can hand in a code.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "online/request.h"
#include "platform/error.h"

class Loopback {
 public:
  Loopback();
  ~Loopback();
  // Listens on 127.0.0.1:port (0: a port the system picks).
  platform::Status listen(unsigned short port);
  unsigned short port() const;
  // A new random state to send with the authorize page.
  static std::string newState();
  // Waits up to `most` for the browser to come back with `state`: the code; an error
  // with the service's refusal, the time-out or a stop. `service` names it in messages.
  platform::Expected<std::string> waitForCode(const std::string& service, const std::string& state,
                                              std::chrono::milliseconds most,
                                              const StopSignal& stop);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
