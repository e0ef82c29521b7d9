// What every system shares of a local stream: whole reads and writes within one time-out,
// made of the system's partial ones.
#include "platform/local_stream.h"

#include <chrono>

#include "platform/system_calls.h"

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The milliseconds left until `end`, at least 0.
int leftUntil(SteadyClock::time_point end) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - SteadyClock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

unsigned long processId() { return sys::processId(); }

Status LocalStream::write(std::string_view bytes, int timeoutMs) {
  const auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!bytes.empty()) {
    if (!handle_) return makeError(path_, "the connection is closed");
    const Expected<std::size_t> wrote = writeSome(bytes.data(), bytes.size(), leftUntil(end));
    if (!wrote) return wrote.error();
    if (*wrote == 0 && leftUntil(end) == 0) {
      return makeError(path_,
                       "the other end took nothing for " + std::to_string(timeoutMs) + " ms");
    }
    bytes.remove_prefix(*wrote);
  }
  return {};
}

Expected<std::string> LocalStream::readExactly(std::size_t size, int timeoutMs) {
  const auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    if (!handle_) return makeError(path_, "the connection is closed");
    const Expected<std::size_t> read = readSome(bytes.data() + done, size - done, leftUntil(end));
    if (!read) return read.error();
    if (*read == 0 && leftUntil(end) == 0) {
      return makeError(path_, "no answer within " + std::to_string(timeoutMs) + " ms");
    }
    done += *read;
  }
  return bytes;
}

}  // namespace platform
