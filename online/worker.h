// A background sender on a thread of its own (a scrobbling account under --follow, the
// chat bot): it runs its work with a stop signal that ends any wait of the work at once.
// The thread shares its state with the Worker, so one held in a call that cannot be cut
// short (a connection attempt) may outlive the Worker; the program's end takes it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "online/request.h"

class Worker {
 public:
  using Work = std::function<void(const StopSignal& stop)>;
  // `stopWait`: how long the Worker's end waits for the work to end.
  explicit Worker(Work work, std::chrono::milliseconds stopWait = std::chrono::seconds(1));
  Worker(Worker&&) = default;
  Worker& operator=(Worker&&) = default;
  // Asks the work to stop and waits up to `stopWait` for it to end.
  ~Worker();

  void requestStop();
  // Waits up to `most` for the work to end; whether it has.
  bool waitFinished(std::chrono::milliseconds most);
  bool finished() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::chrono::milliseconds stopWait_;
};
