#include "BenchServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "Pattern.h"
#include "Protocol.h"

namespace bench {

namespace {
constexpr std::uint64_t kListenId = 0;
constexpr std::uint64_t kWakeId = 1;
}  // namespace

struct BenchServer::Conn {
  int fd = -1;
  char command = 0;  // 0 until the header is complete
  std::uint8_t header[kHeaderSize] = {};
  std::size_t headerLen = 0;
  std::uint64_t length = 0;
  std::uint64_t done = 0;  // bytes sunk or sourced so far
  bool match = true;
  std::string pending;  // echo or reply bytes the socket has not taken yet
  std::size_t pendingOff = 0;
  unsigned events = EPOLLIN;
};

BenchServer::BenchServer(int port) : buffer_(kChunk) {
  Pattern::instance();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr = loopbackAddress(port);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4096) != 0) {
    std::perror("bench server: bind/listen");
    if (fd >= 0) ::close(fd);
    return;
  }
  listenFd_ = fd;
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kListenId;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev);
  ev.data.u64 = kWakeId;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
  thread_ = std::thread([this] { run(); });
}

BenchServer::~BenchServer() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  for (auto& [fd, c] : conns_) ::close(fd);
  for (int fd : {listenFd_, epollFd_, wakeFd_})
    if (fd >= 0) ::close(fd);
}

// Connections are keyed by fd: only this thread accepts and closes, and a
// closed fd is removed from epoll before close, so a stale event can only
// name an fd that is no longer in the map (checked below) or has been reused
// by an accept later in the same round, which then simply gets polled early.
void BenchServer::run() {
  epoll_event events[256];
  for (;;) {
    int n = ::epoll_wait(epollFd_, events, 256, -1);
    if (n < 0 && errno != EINTR) return;
    for (int i = 0; i < n; ++i) {
      std::uint64_t id = events[i].data.u64;
      if (id == kWakeId) return;
      if (id == kListenId) {
        acceptAll();
        continue;
      }
      int fd = static_cast<int>(id - 2);
      auto it = conns_.find(fd);
      if (it == conns_.end()) continue;
      Conn& c = *it->second;
      if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) onReadable(c);
      if (conns_.count(fd) && (events[i].events & EPOLLOUT)) onWritable(c);
    }
  }
}

void BenchServer::acceptAll() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = static_cast<std::uint64_t>(fd) + 2;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
    conns_[fd] = std::move(c);
    ++open_;
  }
}

void BenchServer::drop(int fd) {
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
  conns_.erase(fd);
  --open_;
}

void BenchServer::setInterest(Conn& c, unsigned events) {
  if (c.events == events) return;
  c.events = events;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = static_cast<std::uint64_t>(c.fd) + 2;
  ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev);
}

void BenchServer::onReadable(Conn& c) {
  if (c.command == 0) return readHeader(c);
  if (c.command == 'S') return sink(c);
  if (c.command == 'E') return echo(c);
  // A source connection reads only to notice the client's close.
  ssize_t n = ::recv(c.fd, buffer_.data(), buffer_.size(), 0);
  if (n == 0 || (n < 0 && errno != EAGAIN)) drop(c.fd);
}

void BenchServer::readHeader(Conn& c) {
  ssize_t n = ::recv(c.fd, c.header + c.headerLen, kHeaderSize - c.headerLen, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN)) return drop(c.fd);
  if (n < 0) return;
  c.headerLen += static_cast<std::size_t>(n);
  if (c.headerLen < kHeaderSize) return;
  c.command = static_cast<char>(c.header[0]);
  c.length = headerLength(c.header);
  if (c.command == 'O') return setInterest(c, EPOLLIN | EPOLLOUT);
  if (c.command != 'S' && c.command != 'E') drop(c.fd);
}

void BenchServer::sink(Conn& c) {
  ssize_t n = ::recv(c.fd, buffer_.data(), buffer_.size(), 0);
  if (n == 0 || (n < 0 && errno != EAGAIN)) return drop(c.fd);
  if (n < 0) return;
  std::uint64_t take = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), c.length - c.done);
  if (take < static_cast<std::uint64_t>(n)) c.match = false;  // more than was announced
  if (std::memcmp(buffer_.data(), Pattern::instance().at(c.done), take) != 0) c.match = false;
  c.done += take;
  if (c.done == c.length && c.pending.empty()) {
    std::uint8_t reply[kHeaderSize];
    putHeader(reply, c.match ? 'K' : 'X', c.done);
    c.pending.assign(reinterpret_cast<char*>(reply), kHeaderSize);
    setInterest(c, EPOLLIN | EPOLLOUT);
  }
}

void BenchServer::echo(Conn& c) {
  ssize_t n = ::recv(c.fd, buffer_.data(), buffer_.size(), 0);
  if (n == 0 || (n < 0 && errno != EAGAIN)) return drop(c.fd);
  if (n < 0) return;
  c.pending.append(reinterpret_cast<char*>(buffer_.data()), static_cast<std::size_t>(n));
  if (flushEcho(c)) setInterest(c, c.pending.empty() ? EPOLLIN : EPOLLOUT);
}

// Sends what is pending; false when the connection had to be dropped.
bool BenchServer::flushEcho(Conn& c) {
  while (c.pendingOff < c.pending.size()) {
    ssize_t n = ::send(c.fd, c.pending.data() + c.pendingOff, c.pending.size() - c.pendingOff, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN) return true;
      drop(c.fd);
      return false;
    }
    c.pendingOff += static_cast<std::size_t>(n);
  }
  c.pending.clear();
  c.pendingOff = 0;
  return true;
}

void BenchServer::onWritable(Conn& c) {
  if (c.command != 'O') {
    // Echo back-pressure: reading resumes only once the echo has drained.
    if (flushEcho(c) && c.pending.empty()) setInterest(c, EPOLLIN);
    return;
  }
  while (c.done < c.length) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, c.length - c.done));
    ssize_t n = ::send(c.fd, Pattern::instance().at(c.done), want, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno != EAGAIN) drop(c.fd);
      return;
    }
    c.done += static_cast<std::uint64_t>(n);
  }
  setInterest(c, EPOLLIN);
}

}  // namespace bench
