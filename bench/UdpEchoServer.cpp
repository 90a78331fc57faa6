#include "UdpEchoServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bench {

UdpEchoServer::UdpEchoServer(int port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  // Large buffers, so the echo end is never the one that drops: the kernel caps them at rmem_max.
  int size = 4 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  timeval tick{0, 100000};  // how soon the destructor is noticed
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "udp echo server: bind 127.0.0.1:%d: %s\n", port, std::strerror(errno));
    ::close(fd_);
    fd_ = -1;
    return;
  }
  thread_ = std::thread([this] { run(); });
}

UdpEchoServer::~UdpEchoServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void UdpEchoServer::run() {
  std::vector<char> buffer(65536);
  while (!stop_) {
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    // n < 0: the timeout tick, or an ICMP error left by an earlier peer. An empty datagram is
    // no bench traffic: rinetd sends one when it opens a session and takes one coming back as
    // the end of that session.
    if (n <= 0) continue;
    if (::sendto(fd_, buffer.data(), static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), length) == n)
      echoed_.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace bench
