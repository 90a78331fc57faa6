#include "net/UdpRelay.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "capture/CaptureStore.h"
#include "net/OwnEndpoints.h"
#include "net/Resolver.h"
#include "net/Trace.h"

namespace {

using namespace std::chrono;

// The thread's UDP session sockets and UDP listening ports. UDP ports are not TCP ports, so
// they are not mixed with the loop's own registry. Never destroyed: a relay that outlives the
// thread's static objects still lets go of its entries.
net::OwnEndpoints& udpEndpoints() {
  thread_local auto* registry = new net::OwnEndpoints;
  return *registry;
}

// What the kernel would have done with the datagram itself: dropped it, the session lives on.
// EMSGSIZE: an IPv6 client's datagram too large for an IPv4 destination.
bool wouldDrop(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS || err == ENOMEM || err == EMSGSIZE;
}

bool isDestinationEnding(UdpSessionEnding how) {
  return how == UdpSessionEnding::DestinationRefused || how == UdpSessionEnding::DestinationFailed;
}

UdpSessionEnding endingOf(int err) {
  return err == ECONNREFUSED ? UdpSessionEnding::DestinationRefused : UdpSessionEnding::DestinationFailed;
}

}  // namespace

CUdpRelay::CUdpRelay() : loop_(net::EventLoop::current()), buffer_(new char[kBufferSize]) {}

CUdpRelay::~CUdpRelay() {
  expiry_.cancel();
  byClient_.clear();
  sessions_.clear();
  closeListening();
}

void CUdpRelay::setListenBindAddress(int use, const std::string& address) {
  useListenBindAddress_ = use;
  listenBindAddress_ = address;
}

void CUdpRelay::setConnectBindAddress(int use, const std::string& address) {
  useConnectBindAddress_ = use;
  connectBindAddress_ = address;
}

void CUdpRelay::setIdleTimeout(int seconds) {
  idleTimeout_ = seconds >= 1 ? seconds : kDefaultIdleTimeout;
  expiry_.cancel();
  armExpiry();
}

void CUdpRelay::setMaxSessions(int count) { maxSessions_ = count >= 1 ? count : kDefaultMaxSessions; }

bool CUdpRelay::listenName(std::string& address, int& port) const {
  if (listenFd_ < 0) return false;
  const net::SocketAddress a = net::SocketAddress::localOf(listenFd_);
  if (a.empty()) return false;
  address = a.text(), port = a.port();
  return true;
}

void CUdpRelay::forEachSession(const std::function<void(const CUdpSession&)>& visit) const {
  for (const auto& s : sessions_) visit(*s);
}

bool CUdpRelay::closeBySerial(std::uint64_t serial, UdpSessionEnding how) {
  for (const auto& s : sessions_)
    if (s->serial() == serial) return endSession(*s, how, 0), true;
  return false;
}

void CUdpRelay::start(int listenPort, const std::string& forwardHost, int forwardPort) {
  stop();
  forwardHost_ = forwardHost;
  forwardPort_ = forwardPort;
  // Parsed once: every session of a literal destination goes to this address.
  if (!net::SocketAddress::parse(forwardHost_, forwardPort_, literal_)) literal_ = {};
  if (openListening(listenPort)) trace("CUdpRelay::start()-Bind() OK! Port=%d\n", listenPort);
}

void CUdpRelay::stop() {
  if (stopping_) return;
  stopping_ = true;
  const bool had = !sessions_.empty();
  expiry_.cancel();
  while (!sessions_.empty()) endSession(*sessions_.front(), UdpSessionEnding::Stopped, 0, false);
  closeListening();
  stopping_ = false;
  if (had) tellCount();
}

// The same choice of family as the TCP side: a listen address of IPv6 takes IPv4 clients too
// (as ::ffff:a.b.c.d); without one, every IPv4 address.
bool CUdpRelay::openListening(int port) {
  listenError_ = 0;
  const char* at = useListenBindAddress_ ? listenBindAddress_.c_str() : "0.0.0.0";
  net::SocketAddress local;
  if (!net::SocketAddress::parse(at, port, local) || port < 0 || port > 65535) {
    trace("Error:CUdpRelay::start()-Bind() err=%d\n", listenError_ = EINVAL);
    return false;
  }
  listenFd_ = ::socket(local.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    trace("Error:CUdpRelay::start()-Create() err=%d\n", listenError_ = errno);
    return false;
  }
  int off = 0;
  if (local.family() == AF_INET6) ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  // Every client's datagrams queue on this one socket; the kernel caps the size it grants.
  int size = 4 << 20;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ::setsockopt(listenFd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  if (::bind(listenFd_, local.get(), local.length) != 0) {
    trace("Error:CUdpRelay::start()-Bind() err=%d\n", listenError_ = errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  listenToken_ = loop_.add(listenFd_, this);
  loop_.setInterest(listenToken_, EPOLLIN);
  boundPort_ = net::SocketAddress::localOf(listenFd_).port();
  udpEndpoints().listening(boundPort_);
  return true;
}

void CUdpRelay::closeListening() {
  if (listenFd_ < 0) return;
  udpEndpoints().notListening(boundPort_);
  boundPort_ = 0;
  loop_.removeClosing(listenToken_);
  loop_.closeLater(listenFd_);
  listenFd_ = -1;
}

void CUdpRelay::onReady(std::uint32_t) {
  for (int n = 0; n < kDatagramsPerWake && listenFd_ >= 0; ++n) {
    net::SocketAddress from;
    from.length = sizeof from.storage;
    const ssize_t got = ::recvfrom(listenFd_, buffer_.get(), kBufferSize, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from.storage), &from.length);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno != EINTR && errno != ECONNREFUSED) trace("Error:CUdpRelay::onReady()-RecvFrom() err=%d\n", errno);
      continue;
    }
    fromClient(from, buffer_.get(), static_cast<std::size_t>(got));
  }
}

// The filter judges every datagram, not only a session's first: its rules may change while the
// session lives.
void CUdpRelay::fromClient(const net::SocketAddress& from, const char* data, std::size_t n) {
  if (filter && !filter->isAccept(from.text())) {
    ++totals_.refused;
    if (listener_) listener_->notifyOnDatagramRefused(from.text(), from.port());
    return;
  }
  auto found = byClient_.find(from.key());
  CUdpSession* session = found != byClient_.end() ? found->second : startSession(from);
  if (!session) return;
  touch(*session);
  if (session->captured) capture_->data(session->serial(), Direction::up, {data, n});
  forward(*session, data, n);
}

CUdpSession* CUdpRelay::startSession(const net::SocketAddress& from) {
  if (udpEndpoints().contains(from, boundPort_)) {
    ++totals_.refused;
    trace("★★自身への中継を拒否★★ PeerAddress=%s, port=%d\n", from.text().c_str(), from.port());
    if (listener_) listener_->notifyOnLoopRefused(from.text(), from.port());
    return nullptr;
  }
  // More than one only after the bound was lowered.
  while (sessions_.size() >= maxSessions_) {
    endSession(*sessions_.front(), UdpSessionEnding::Evicted, 0, false);
    if (!isListening()) return nullptr;  // the report stopped the relay
  }
  CUdpSession::Owner& owner = *this;
  sessions_.push_back(std::make_unique<CUdpSession>(owner, loop_, from, ++nextSerial_));
  CUdpSession& s = *sessions_.back();
  s.order = std::prev(sessions_.end());
  byClient_[s.clientKey()] = &s;
  ++totals_.sessions;
  trace("CUdpRelay::startSession() PeerAddress=%s, port=%d\n", from.text().c_str(), from.port());
  const std::string key = s.clientKey();
  const std::uint64_t serial = s.serial();
  if (capture_) captureOpened(s);
  if (listener_) listener_->notifyOnSessionStart(s);
  if (alive(key, serial)) {
    if (!literal_.empty()) {
      connectSession(s, {literal_});
    } else {
      s.lookup = loop_.resolver().lookup(
          forwardHost_, [this, &s](int err, const std::vector<net::SocketAddress>& found) { resolved(s, err, found); });
    }
  }
  tellCount();
  armExpiry();
  return alive(key, serial) ? &s : nullptr;
}

void CUdpRelay::resolved(CUdpSession& s, int err, const std::vector<net::SocketAddress>& found) {
  if (err != 0) {
    s.failure = loop_.resolver().failure();
    return endSession(s, UdpSessionEnding::DestinationFailed, err);
  }
  std::vector<net::SocketAddress> addresses = found;
  for (net::SocketAddress& a : addresses) a.setPort(forwardPort_);
  connectSession(s, std::move(addresses));
}

// Held datagrams go out once the socket is connected, in the order they came.
void CUdpRelay::connectSession(CUdpSession& s, std::vector<net::SocketAddress> addresses) {
  const int err = s.connect(addresses, useConnectBindAddress_ ? connectBindAddress_.c_str() : nullptr);
  if (err != 0) {
    trace("Error:CUdpRelay::connectSession()-Connect() err=%d\n", err);
    return endSession(s, UdpSessionEnding::DestinationFailed, err);
  }
  net::OwnEndpoints& own = udpEndpoints();
  if (own.mayComeBack(forwardPort_)) s.ownEndpoint = own.add(s.local(), forwardPort_);
  heldBytes_ -= s.heldBytes();
  for (const std::string& datagram : s.takeHeld())
    if (!forward(s, datagram.data(), datagram.size())) return;
}

// False when the session ended.
bool CUdpRelay::forward(CUdpSession& s, const char* data, std::size_t n) {
  if (!s.connected()) {
    if (heldBytes_ + n <= kMaxHeldBytes && s.hold(data, n)) {
      heldBytes_ += n;
    } else {
      drop(s);
    }
    return true;
  }
  const int err = s.send(data, n);
  if (err == 0) {
    s.toDestination.add(n), totals_.toDestination.add(n);
    return true;
  }
  if (wouldDrop(err)) {
    drop(s);
    return true;
  }
  endSession(s, endingOf(err), err);
  return false;
}

// An error read here is the destination's ICMP answer to an earlier datagram (or a local
// failure); either way the session has nowhere to send to.
void CUdpRelay::sessionReadable(CUdpSession& s) {
  for (int n = 0; n < kDatagramsPerWake; ++n) {
    int err = 0;
    const long got = s.receive(buffer_.get(), kBufferSize, err);
    if (got < 0) {
      if (err == EAGAIN || err == EWOULDBLOCK) return;
      if (err == EINTR) continue;
      return endSession(s, endingOf(err), err);
    }
    touch(s);
    if (s.captured) capture_->data(s.serial(), Direction::down, {buffer_.get(), static_cast<std::size_t>(got)});
    reply(s, buffer_.get(), static_cast<std::size_t>(got));
  }
}

void CUdpRelay::reply(CUdpSession& s, const char* data, std::size_t n) {
  const net::SocketAddress& to = s.client();
  if (::sendto(listenFd_, data, n, MSG_DONTWAIT | MSG_NOSIGNAL, to.get(), to.length) >= 0) {
    s.toClient.add(n), totals_.toClient.add(n);
    return;
  }
  if (!wouldDrop(errno)) trace("Error:CUdpRelay::reply()-SendTo() err=%d\n", errno);
  drop(s);
}

void CUdpRelay::touch(CUdpSession& s) {
  s.lastActive = CUdpSession::Clock::now();
  sessions_.splice(sessions_.end(), sessions_, s.order);
}

void CUdpRelay::drop(CUdpSession& s) { ++s.dropped, ++totals_.dropped; }

// Taken out of the table before it is reported, so a report that stops the relay finds it gone.
void CUdpRelay::endSession(CUdpSession& s, UdpSessionEnding how, int err, bool count) {
  std::unique_ptr<CUdpSession> ended = std::move(*s.order);
  sessions_.erase(s.order);
  byClient_.erase(ended->clientKey());
  heldBytes_ -= ended->heldBytes();
  if (isDestinationEnding(how)) ++totals_.failed;
  trace("CUdpRelay::endSession() PeerAddress=%s, port=%d how=%d err=%d\n", ended->client().text().c_str(),
        ended->client().port(), static_cast<int>(how), err);
  if (listener_) listener_->notifyOnSessionEnd(*ended, how, err);
  if (ended->captured) capture_->ended(ended->serial());
  ended.reset();
  if (count) tellCount();
}

// Also runs early when the front session has been active since the timer was set; it then only
// sets the timer again for the new front.
void CUdpRelay::expire() {
  const auto now = CUdpSession::Clock::now();
  const auto timeout = seconds(idleTimeout_);
  bool ended = false;
  while (!sessions_.empty() && sessions_.front()->lastActive + timeout <= now) {
    endSession(*sessions_.front(), UdpSessionEnding::IdleTimedOut, 0, false);
    ended = true;
  }
  if (ended) tellCount();
  armExpiry();
}

void CUdpRelay::armExpiry() {
  if (sessions_.empty() || stopping_) return expiry_.cancel();
  if (expiry_.active()) return;  // set for the front, whose deadline only moves later
  const auto due = sessions_.front()->lastActive + seconds(idleTimeout_);
  const auto wait = ceil<milliseconds>(due - CUdpSession::Clock::now());
  expiry_.start(std::max(wait, milliseconds(0)), [this] { expire(); });
}

void CUdpRelay::tellCount() {
  if (listener_) listener_->notifyOnSessionCount(sessionCount());
}

bool CUdpRelay::alive(const std::string& key, std::uint64_t serial) const {
  auto found = byClient_.find(key);
  return found != byClient_.end() && found->second->serial() == serial;
}
