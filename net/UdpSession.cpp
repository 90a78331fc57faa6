#include "net/UdpSession.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/Trace.h"

CUdpSession::CUdpSession(Owner& owner, net::EventLoop& loop, const net::SocketAddress& client, std::uint64_t serial)
    : owner_(owner), loop_(loop), client_(client), clientKey_(client.key()), serial_(serial) {
  started = lastActive = Clock::now();
}

CUdpSession::~CUdpSession() { close(); }

void CUdpSession::close() {
  if (fd_ < 0) return;
  loop_.removeClosing(token_);
  loop_.closeLater(fd_);
  fd_ = -1;
}

net::SocketAddress CUdpSession::local() const {
  return fd_ >= 0 ? net::SocketAddress::localOf(fd_) : net::SocketAddress{};
}

int CUdpSession::connect(const std::vector<net::SocketAddress>& addresses, const char* bindAddress) {
  int err = EINVAL;
  for (const net::SocketAddress& to : addresses) {
    close();
    fd_ = ::socket(to.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return errno;
    token_ = loop_.add(fd_, this);
    net::SocketAddress from;
    if (bindAddress && net::SocketAddress::parse(bindAddress, 0, from) && ::bind(fd_, from.get(), from.length) != 0)
      trace("Error:CUdpSession::connect()-Bind() err=%d\n", errno);
    if (::connect(fd_, to.get(), to.length) == 0) {
      destination_ = to;
      loop_.setInterest(token_, EPOLLIN);
      return 0;
    }
    err = errno;
  }
  close();
  return err;
}

int CUdpSession::send(const char* data, std::size_t n) {
  return ::send(fd_, data, n, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0 ? 0 : errno;
}

long CUdpSession::receive(char* buffer, std::size_t capacity, int& err) {
  const ssize_t got = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
  err = got < 0 ? errno : 0;
  return got;
}

bool CUdpSession::hold(const char* data, std::size_t n) {
  if (held_.size() >= kMaxHeld) return false;
  held_.emplace_back(data, n);
  heldBytes_ += n;
  return true;
}

std::deque<std::string> CUdpSession::takeHeld() {
  std::deque<std::string> out;
  out.swap(held_);
  heldBytes_ = 0;
  return out;
}

void CUdpSession::onReady(std::uint32_t) { owner_.sessionReadable(*this); }
