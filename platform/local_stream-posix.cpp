// POSIX implementation of a local stream: a Unix domain socket, non-blocking, waited on
// with poll().
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/local_stream.h"

namespace platform {

namespace {

// Waits up to timeoutMs for the socket to be ready for `events`; whether it is (an error
// or a hang-up counts as ready: the next call reports it).
bool waitFor(int socket, short events, int timeoutMs) {
  pollfd watched{socket, events, 0};
  const int ready = ::poll(&watched, 1, timeoutMs);
  return ready > 0;
}

}  // namespace

std::string localStreamPath(std::string_view name) {
  std::string folder = "/tmp";
  for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
      folder = value;
      break;
    }
  }
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.append("/").append(name);
}

Expected<LocalStream> LocalStream::connect(const std::string& path, int timeoutMs) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    return makeError(path, "the path is too long for a socket");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  LocalStream stream;
  stream.path_ = path;
  stream.handle_ = Handle(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!stream.handle_) return systemError(errno, "socket", path);
  const int socket = stream.handle_.get();
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    return stream;
  }
  if (errno != EINPROGRESS && errno != EAGAIN) return systemError(errno, "connect", path);
  if (!waitFor(socket, POLLOUT, timeoutMs)) {
    return makeError(path, "no connection within " + std::to_string(timeoutMs) + " ms");
  }
  int failure = 0;
  socklen_t length = sizeof(failure);
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
  if (failure != 0) return systemError(failure, "connect", path);
  return stream;
}

Expected<std::size_t> LocalStream::readSome(char* buffer, std::size_t size, int timeoutMs) {
  if (!waitFor(handle_.get(), POLLIN, timeoutMs)) return std::size_t{0};
  const ssize_t got = ::recv(handle_.get(), buffer, size, 0);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got == 0) return makeError(path_, "the other end closed the connection");
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return std::size_t{0};
  return systemError(errno, "recv", path_);
}

Expected<std::size_t> LocalStream::writeSome(const char* bytes, std::size_t size, int timeoutMs) {
  if (!waitFor(handle_.get(), POLLOUT, timeoutMs)) return std::size_t{0};
  // MSG_NOSIGNAL: a closed other end is an error to report, not a SIGPIPE.
  const ssize_t sent = ::send(handle_.get(), bytes, size, MSG_NOSIGNAL);
  if (sent >= 0) return static_cast<std::size_t>(sent);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return std::size_t{0};
  return systemError(errno, "send", path_);
}

bool LocalStream::readable(int timeoutMs) {
  return handle_ && waitFor(handle_.get(), POLLIN, timeoutMs);
}

}  // namespace platform
