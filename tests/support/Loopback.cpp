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

bool waitFor(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r >= 0 || errno != EINTR) return r > 0;
  }
}

// sockaddr_in and sockaddr_in6 keep the family and the port at the same place; 0 for no address.
socklen_t addressOf(const char* host, int port, sockaddr_in6& a) {
  a = {};
  auto& v4 = reinterpret_cast<sockaddr_in&>(a);
  const bool six = ::inet_pton(AF_INET, host, &v4.sin_addr) != 1;
  if (six && ::inet_pton(AF_INET6, host, &a.sin6_addr) != 1) return 0;
  a.sin6_family = six ? AF_INET6 : AF_INET;
  a.sin6_port = htons(static_cast<uint16_t>(port));
  return six ? sizeof a : sizeof v4;
}

// A socket bound to host:port (port 0: of the kernel's choosing); -1 when that fails.
// With `reuse`, a port whose connections are still in TIME_WAIT can be listened on again.
int boundAt(const char* host, int port, int flags = 0, bool reuse = false) {
  sockaddr_in6 a;
  const socklen_t len = addressOf(host, port, a);
  int fd = len ? ::socket(a.sin6_family, SOCK_STREAM | SOCK_CLOEXEC | flags, 0) : -1, on = 1;
  if (fd >= 0 && reuse) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) closeFd(fd);
  return fd;
}

}  // namespace

LoopbackListener::LoopbackListener(const char* host, int at) : fd(boundAt(host, at, 0, at != 0)) {
  sockaddr_in6 a;
  socklen_t len = sizeof a;
  if (fd >= 0 && ::listen(fd, SOMAXCONN) == 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin6_port);
  else
    closeFd(fd);
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
    int fd = boundAt("127.0.0.1", port);
    if (fd >= 0) return closeFd(fd), port;
  }
  return LoopbackListener().port;
}

int connectLoopback(int port, std::chrono::milliseconds timeout, const char* target, const char* source) {
  sockaddr_in6 a;
  const socklen_t len = addressOf(target, port, a);
  // Bound only when asked: a port taken at bind time could not be shared with other destinations.
  int fd = source ? boundAt(source, 0, SOCK_NONBLOCK)
                  : ::socket(a.sin6_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int err = 0;
  socklen_t errLen = sizeof err;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 &&
      (errno != EINPROGRESS || !waitFor(fd, POLLOUT, Clock::now() + timeout) ||
       ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0 || err != 0))
    closeFd(fd);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool sendAll(int fd, const std::string& data, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (std::size_t at = 0; at < data.size();) {
    if (!waitFor(fd, POLLOUT, deadline)) return false;
    ssize_t n = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    at += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  return true;
}

std::string receive(int fd, std::size_t n, std::chrono::milliseconds timeout, bool* closed, bool* reset) {
  const auto deadline = Clock::now() + timeout;
  std::string out;
  char buf[65536];
  if (closed) *closed = false;
  if (reset) *reset = false;
  while (out.size() < n && waitFor(fd, POLLIN, deadline)) {
    ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), MSG_DONTWAIT);
    if (r > 0) out.append(buf, static_cast<std::size_t>(r));
    if (r > 0 || (r < 0 && (errno == EAGAIN || errno == EINTR))) continue;
    if (closed) *closed = true;
    if (reset) *reset = r < 0 && errno == ECONNRESET;
    break;
  }
  return out;
}

bool readableWithin(int fd, std::chrono::milliseconds timeout) { return waitFor(fd, POLLIN, Clock::now() + timeout); }

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void resetClose(int& fd) {
  const linger l{1, 0};
  if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  closeFd(fd);
}

int portOf(int fd, bool peer) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if ((peer ? ::getpeername : ::getsockname)(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);  // at sin6_port's place too
}

}  // namespace testsupport
