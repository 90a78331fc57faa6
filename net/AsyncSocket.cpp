#include "net/AsyncSocket.h"

#include <cerrno>
#include <csignal>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

thread_local int lastError = 0;

bool fail(int err) {
  lastError = err;
  return false;
}

bool validPort(int port) { return port >= 0 && port <= 65535; }

bool readName(int fd, bool peer, std::string& address, int& port) {
  net::SocketAddress a = peer ? net::SocketAddress::peerOf(fd) : net::SocketAddress::localOf(fd);
  if (a.empty()) return fail(errno);
  if (a.family() != AF_INET && a.family() != AF_INET6) return fail(EAFNOSUPPORT);
  address = a.text();
  port = a.port();
  return true;
}

}  // namespace

bool socketInit() {
  std::signal(SIGPIPE, SIG_IGN);
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (net::EventLoop::current().fd() < 0) return fail(errno);
  return true;
}

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() { CAsyncSocket::Close(); }

int CAsyncSocket::GetLastError() { return lastError; }

bool isDescriptorShortage(int err) { return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM; }

bool CAsyncSocket::Create(int port, int type, long events, const char* address) {
  if (!Socket(type, events)) return false;
  // Any port on every address is what the kernel picks by itself at connect or listen; binding
  // it now would tie up an ephemeral port per outgoing socket whatever its destination.
  if ((port == 0 && address == nullptr) || Bind(port, address)) return true;
  int err = lastError;
  Close();
  return fail(err);
}

bool CAsyncSocket::Socket(int type, long events, int family) {
  if (m_hSocket >= 0) return fail(EISCONN);
  int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(errno);
  attach(fd, events, Phase::Idle);
  return true;
}

bool CAsyncSocket::Bind(int port, const char* address) {
  if (m_hSocket < 0 || !validPort(port)) return fail(m_hSocket < 0 ? ENOTSOCK : EINVAL);
  net::SocketAddress local;
  if (!net::SocketAddress::parse(address ? address : "0.0.0.0", port, local)) return fail(EINVAL);
  if (::bind(m_hSocket, local.get(), local.length) != 0) return fail(errno);
  return true;
}

bool CAsyncSocket::Listen(int backlog) {
  if (m_hSocket < 0) return fail(ENOTSOCK);
  if (::listen(m_hSocket, backlog) != 0) return fail(errno);
  phase_ = Phase::Listening;
  updateInterest();
  return true;
}

bool CAsyncSocket::SetSockOpt(int option, const void* value, int length, int level) {
  if (m_hSocket < 0) return fail(ENOTSOCK);
  if (::setsockopt(m_hSocket, level, option, value, static_cast<socklen_t>(length)) != 0) return fail(errno);
  return true;
}

bool CAsyncSocket::AsyncSelect(long events) {
  if (m_hSocket < 0) return fail(ENOTSOCK);
  events_ = events;
  updateInterest();
  return true;
}

bool CAsyncSocket::Connect(const char* host, int port) {
  if (host == nullptr || !validPort(port)) return fail(EINVAL);
  net::SocketAddress remote;
  if (!net::SocketAddress::parse(host, port, remote)) return fail(EINVAL);
  return ConnectTo(remote);
}

bool CAsyncSocket::ConnectTo(const net::SocketAddress& remote) {
  if (m_hSocket < 0) return fail(ENOTSOCK);
  peer_ = remote;
  peerKnown_ = true;
  if (::connect(m_hSocket, remote.get(), remote.length) == 0) {
    phase_ = Phase::Connected;
    oweFirstSend();
    return true;
  }
  int err = errno;
  // EAGAIN is not "in progress" for TCP: no local port was free, and nothing would ever follow.
  if (err == EAGAIN) return fail(EADDRNOTAVAIL);
  if (err != EINPROGRESS) return fail(err);
  phase_ = Phase::Connecting;
  updateInterest();
  return fail(EWOULDBLOCK);
}

bool CAsyncSocket::ShutDown(int how) {
  if (m_hSocket < 0) return fail(ENOTSOCK);
  if (::shutdown(m_hSocket, how) != 0) return fail(errno);
  return true;
}

bool CAsyncSocket::Accept(CAsyncSocket& target) {
  if (m_hSocket < 0 || target.m_hSocket >= 0) return fail(m_hSocket < 0 ? ENOTSOCK : EISCONN);
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  int fd = ::accept4(m_hSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (isDescriptorShortage(err)) pauseAccepting();
    return fail(err);
  }
  target.attach(fd, events_, Phase::Connected);
  target.peer_ = net::SocketAddress::from(reinterpret_cast<sockaddr*>(&peer), peerLength);
  target.peerKnown_ = true;
  target.oweFirstSend();
  return true;
}

// A socket that has just connected can take bytes: inside a round its first OnSend comes at the
// round's end without asking epoll (which would cost two interest changes); outside one, epoll
// reports it.
void CAsyncSocket::oweFirstSend() {
  writePosted_ = net::EventLoop::current().post(token_);
  writeArmed_ = !writePosted_;
  updateInterest();
}

void CAsyncSocket::onPosted() {
  if (!writePosted_ || m_hSocket < 0) return;
  writePosted_ = false;
  if (events_ & FD_WRITE) OnSend(0);
}

void CAsyncSocket::pauseAccepting() {
  if (m_hSocket < 0) return;
  // The connections stay queued; asking again now would only fail again at full speed.
  acceptStarved_ = true;
  updateInterest();
  net::EventLoop::current().waitForDescriptors(token_);
}

int CAsyncSocket::Detach() {
  const int fd = m_hSocket;
  if (fd < 0) return -1;
  net::EventLoop::current().remove(token_);  // the fd stays open: epoll must let go of it
  m_hSocket = -1;
  token_ = 0;
  phase_ = Phase::Idle;
  writeArmed_ = writePosted_ = peerKnown_ = false;
  acceptStarved_ = false;
  return fd;
}

void CAsyncSocket::Close() {
  if (m_hSocket < 0) return;
  auto& loop = net::EventLoop::current();
  loop.removeClosing(token_);
  loop.closeLater(m_hSocket);
  m_hSocket = -1;
  token_ = 0;
  phase_ = Phase::Idle;
  writeArmed_ = writePosted_ = peerKnown_ = false;
  acceptStarved_ = false;
}

int CAsyncSocket::Receive(void* buffer, int length, int flags) {
  ssize_t n = m_hSocket < 0 ? (errno = ENOTSOCK, -1) : ::recv(m_hSocket, buffer, static_cast<size_t>(length), flags);
  if (n < 0) fail(errno);
  return static_cast<int>(n);
}

int CAsyncSocket::Send(const void* buffer, int length, int flags) {
  ssize_t n = m_hSocket < 0 ? (errno = ENOTSOCK, -1)
                            : ::send(m_hSocket, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (err == EWOULDBLOCK && !writeArmed_) {
    writeArmed_ = true;  // owe an OnSend once the socket can take more
    writePosted_ = false;
    updateInterest();
  }
  fail(err);
  return -1;
}

bool CAsyncSocket::GetPeerName(std::string& address, int& port) const {
  if (m_hSocket < 0) return fail(ENOTSOCK);
  if (!peerKnown_ || phase_ != Phase::Connected) return readName(m_hSocket, true, address, port);
  address = peer_.text();  // as accept or connect gave it
  port = peer_.port();
  return true;
}

bool CAsyncSocket::GetSockName(std::string& address, int& port) const {
  return m_hSocket >= 0 ? readName(m_hSocket, false, address, port) : fail(ENOTSOCK);
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}

void CAsyncSocket::attach(int fd, long events, Phase phase) {
  m_hSocket = fd;
  events_ = events;
  phase_ = phase;
  writeArmed_ = writePosted_ = peerKnown_ = false;
  acceptStarved_ = false;
  token_ = net::EventLoop::current().add(fd, this);
}

void CAsyncSocket::updateInterest() {
  if (m_hSocket < 0) return;
  std::uint32_t interest = 0;
  switch (phase_) {
    case Phase::Listening:
      if ((events_ & FD_ACCEPT) && !acceptStarved_) interest = EPOLLIN;
      break;
    case Phase::Connecting: interest = EPOLLOUT; break;
    case Phase::Connected:
      if (events_ & FD_READ) interest |= EPOLLIN;
      if ((events_ & FD_WRITE) && writeArmed_) interest |= EPOLLOUT;
      if (events_ & FD_OOB) interest |= EPOLLPRI;
      break;
    case Phase::Idle:  // a fresh unconnected socket reports a hang-up: keep it out of the set
    case Phase::Failed: break;
  }
  net::EventLoop::current().setInterest(token_, interest);
}

void CAsyncSocket::onDescriptorsFreed() {
  acceptStarved_ = false;
  updateInterest();
}

int CAsyncSocket::takeSocketError() const {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void CAsyncSocket::onReady(std::uint32_t revents) {
  auto& loop = net::EventLoop::current();
  const net::EventLoop::Token token = token_;
  switch (phase_) {
    case Phase::Listening:
      if ((revents & EPOLLIN) && (events_ & FD_ACCEPT) && !acceptStarved_) return OnAccept(0);
      break;
    case Phase::Connecting: return readyConnecting(revents);
    case Phase::Connected:
      if (!readyConnected(revents)) return;
      break;
    case Phase::Idle:
    case Phase::Failed: break;
  }
  // Nothing was delivered. Hang-up and error are reported whatever the interest; when nothing
  // can act on them now, keep epoll from reporting them every round until the interest changes.
  if ((revents & (EPOLLHUP | EPOLLERR)) && loop.alive(token)) loop.park(token);
}

void CAsyncSocket::readyConnecting(std::uint32_t revents) {
  if (!(revents & (EPOLLOUT | EPOLLERR | EPOLLHUP))) return;
  // A failed connect always comes with EPOLLERR or EPOLLHUP; writable alone means it succeeded.
  int err = (revents & (EPOLLERR | EPOLLHUP)) ? takeSocketError() : 0;
  if (err == 0 && !(revents & EPOLLOUT)) err = ECONNABORTED;
  phase_ = err == 0 ? Phase::Connected : Phase::Failed;
  if (err == 0) oweFirstSend();  // the first write event follows the connect
  else
    updateInterest();
  if (events_ & FD_CONNECT) OnConnect(err);
}

// Runs the handlers for one connected socket's events, read before write before urgent before
// error. Returns false when a handler ran (the object may be gone, or a nested loop may have
// moved on); true when nothing was delivered.
bool CAsyncSocket::readyConnected(std::uint32_t revents) {
  auto& loop = net::EventLoop::current();
  const net::EventLoop::Token token = token_;
  const std::uint64_t round = loop.round();
  bool ran = false;
  auto goOn = [&] { return loop.alive(token) && loop.round() == round; };

  if ((revents & EPOLLIN) && (events_ & FD_READ)) {
    ran = true;
    OnReceive(0);
    if (!goOn()) return false;
  }
  if ((revents & EPOLLOUT) && (events_ & FD_WRITE) && writeArmed_) {
    ran = true;
    writeArmed_ = false;
    updateInterest();
    OnSend(0);
    if (!goOn()) return false;
  }
  if ((revents & EPOLLPRI) && (events_ & FD_OOB)) {
    ran = true;
    OnOutOfBandData(0);
    if (!goOn()) return false;
    discardUrgentByte();
  }
  if (revents & EPOLLERR) {
    int err = takeSocketError();
    if (err != 0 && (events_ & FD_CLOSE)) {
      OnClose(err);
      return false;
    }
  }
  return !ran;
}

void CAsyncSocket::discardUrgentByte() {
  char urgent;
  ::recv(m_hSocket, &urgent, 1, MSG_OOB | MSG_DONTWAIT);
}
