#pragma once
// The UDP peers of the relay tests, driven by the thread's loop: sockets the test reads without
// blocking while the loop runs, and an echo destination served from the loop itself. Link
// relvane_net.
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <set>
#include <string>

#include "Loopback.h"
#include "Wait.h"
#include "net/EventLoop.h"
#include "net/SocketAddress.h"

namespace testsupport {

// A UDP socket bound to host (a port of the kernel's choosing), non-blocking; -1 when the host
// has no such address.
inline int udpSocket(const char* host) {
  net::SocketAddress at;
  if (!net::SocketAddress::parse(host, 0, at)) return -1;
  int fd = ::socket(at.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::bind(fd, at.get(), at.length) != 0) closeFd(fd);
  return fd;
}

inline void sendTo(int fd, const char* host, int port, const std::string& data) {
  net::SocketAddress to;
  ASSERT_TRUE(net::SocketAddress::parse(host, port, to));
  ASSERT_EQ(::sendto(fd, data.data(), data.size(), 0, to.get(), to.length), static_cast<ssize_t>(data.size()));
}

// The next datagram for fd, the loop running meanwhile; "" when none came within the time.
inline std::string awaitDatagram(int fd, std::chrono::milliseconds timeout = 5s) {
  std::string got(70000, '\0');
  ssize_t n = -1;
  waitUntil([&] { return (n = ::recv(fd, got.data(), got.size(), 0)) >= 0; }, timeout);
  return got.substr(0, n < 0 ? 0 : n);
}

// Sends every datagram back to where it came from, and remembers the sources it saw.
struct UdpEcho final : private net::EventLoop::Watcher {
  int fd, port;
  std::set<int> sources;
  explicit UdpEcho(const char* host = "127.0.0.1") : fd(udpSocket(host)), port(portOf(fd)) {
    net::EventLoop::current().setInterest(token, EPOLLIN);
  }
  ~UdpEcho() { net::EventLoop::current().remove(token), closeFd(fd); }
  void onReady(std::uint32_t) override {
    char buf[70000];
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    for (ssize_t n; (n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len)) >= 0;) {
      ::sendto(fd, buf, n, 0, reinterpret_cast<sockaddr*>(&from), len);
      sources.insert(net::SocketAddress::from(reinterpret_cast<sockaddr*>(&from), len).port());
    }
  }
  net::EventLoop::Token token = net::EventLoop::current().add(fd, this);
};

}  // namespace testsupport
