#include "Loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool waitFor(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, remainingMs(deadline));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

LoopbackListener::LoopbackListener() {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    closeFd(fd);
    return;
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() { closeFd(fd); }

int LoopbackListener::acceptOne(std::chrono::milliseconds timeout) const {
  if (fd < 0 || !waitFor(fd, POLLIN, Clock::now() + timeout)) return -1;
  return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}

// Below the kernel's ephemeral range (32768 and up by default): a port the kernel handed out
// with bind(0) is one it may hand again to another test's outgoing connection, running in
// parallel, before the caller listens on it.
int freePort() {
  static std::minstd_rand pick(static_cast<unsigned>(::getpid()) ^
                               static_cast<unsigned>(Clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = 20000 + static_cast<int>(pick() % 12000);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    const bool free = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    if (free) return port;
  }
  LoopbackListener l;
  return l.port;
}

int connectLoopback(int port, std::chrono::milliseconds timeout) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in a = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int err = 0;
    socklen_t len = sizeof err;
    if (errno != EINPROGRESS || !waitFor(fd, POLLOUT, Clock::now() + timeout) ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      closeFd(fd);
      return -1;
    }
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool sendAll(int fd, const void* data, std::size_t len, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  auto* p = static_cast<const char*>(data);
  while (len > 0) {
    if (!waitFor(fd, POLLOUT, deadline)) return false;
    ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

bool sendAll(int fd, const std::string& data, std::chrono::milliseconds timeout) {
  return sendAll(fd, data.data(), data.size(), timeout);
}

std::string recvExact(int fd, std::size_t n, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  std::string out;
  char buf[65536];
  while (out.size() < n && waitFor(fd, POLLIN, deadline)) {
    std::size_t want = std::min(sizeof buf, n - out.size());
    ssize_t r = ::recv(fd, buf, want, MSG_DONTWAIT);
    if (r == 0) break;
    if (r < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      break;
    }
    out.append(buf, static_cast<std::size_t>(r));
  }
  return out;
}

std::string recvUntilEof(int fd, std::chrono::milliseconds timeout, bool* closed) {
  auto deadline = Clock::now() + timeout;
  std::string out;
  char buf[65536];
  if (closed) *closed = false;
  while (waitFor(fd, POLLIN, deadline)) {
    ssize_t r = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (r > 0) {
      out.append(buf, static_cast<std::size_t>(r));
      continue;
    }
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (closed) *closed = true;
    break;
  }
  return out;
}

bool waitPeerClosed(int fd, std::chrono::milliseconds timeout) {
  bool closed = false;
  recvUntilEof(fd, timeout, &closed);
  return closed;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace testsupport
