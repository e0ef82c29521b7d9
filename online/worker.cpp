#include "online/worker.h"

#include <condition_variable>
#include <mutex>
#include <thread>

struct Worker::State {
  StopSignal stop;
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
};

Worker::Worker(Work work, std::chrono::milliseconds stopWait)
    : state_(std::make_shared<State>()), stopWait_(stopWait) {
  std::thread([state = state_, work = std::move(work)] {
    work(state->stop);
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->finished = true;
    state->ended.notify_all();
  }).detach();
}

Worker::~Worker() {
  if (!state_) return;  // moved from
  requestStop();
  waitFinished(stopWait_);
}

void Worker::requestStop() { state_->stop.request(); }

bool Worker::waitFinished(std::chrono::milliseconds most) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->ended.wait_for(lock, most, [this] { return state_->finished; });
}

bool Worker::finished() const {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->finished;
}
