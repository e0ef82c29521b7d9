#include "publish/set_pairing.h"

#include <utility>

#include "setfile/clock.h"

bool sameDeckAndTime(const Record& a, const Record& b) {
  return a.deck == b.deck && clockSeconds(a.time) == clockSeconds(b.time);
}

void SetLogPairing::fill() {
  while (!ended_ && ahead_.size() < kLookAhead) {
    Record record;
    if (!setLog_(&record)) {
      ended_ = true;
      break;
    }
    ++read_;
    ahead_.push_back(std::move(record));
  }
}

const Record* SetLogPairing::partnerOf(const Record& record) {
  partner_.reset();
  for (;;) {
    fill();
    for (std::size_t i = 0; i < ahead_.size(); ++i) {
      if (!sameDeckAndTime(record, ahead_[i])) continue;
      partner_ = std::move(ahead_[i]);
      ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return &*partner_;
    }
    // Every record looked ahead at lies before this one in time: they were deleted from
    // the playlist, and its partner may lie further on. Otherwise this record is one that
    // was added or edited, and the set log waits for the next.
    if (ahead_.size() < kLookAhead ||
        clockSeconds(ahead_.back().time) >= clockSeconds(record.time)) {
      return nullptr;
    }
    ahead_.clear();
  }
}

std::uint64_t SetLogPairing::drain() {
  ahead_.clear();
  for (Record record; !ended_;) {
    if (setLog_(&record)) {
      ++read_;
    } else {
      ended_ = true;
    }
  }
  return read_;
}
