#include "net/TcpAcceptor.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>

#include "filter/IpFilter.h"
#include "net/EventLoop.h"
#include "net/ListenAddress.h"
#include "net/OwnEndpoints.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"

namespace net {

TcpAcceptor::TcpAcceptor(EventLoop& loop, CIpFilter* const& filter, CTcpRepeaterListener* const& listener)
    : loop_(loop), filter_(filter), listener_(listener) {}

TcpAcceptor::~TcpAcceptor() { close(); }

void TcpAcceptor::close() {
  if (boundPort_ != 0) loop_.ownEndpoints().notListening(boundPort_);
  boundPort_ = 0;
  listenSocket_.Close();
  listening_ = false;
  spare_.reset();
}

bool TcpAcceptor::name(std::string& address, int& port) const {
  return isListening() && listenSocket_.GetSockName(address, port);
}

void TcpAcceptor::setOutgoing(int family, const char* bindAddress) {
  outgoingFamily_ = family;
  outgoingBind_ = bindAddress ? bindAddress : "";
}

void TcpAcceptor::listen(int port, const char* bindAddress, CTcpSockStreamParent* parent) {
  close();
  listenError_ = 0;
  holding_ = false;
  const bool v6 = bindAddress && literalFamily(bindAddress) == AF_INET6;
  if (!listenSocket_.Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, v6 ? AF_INET6 : AF_INET)) {
    trace("Error:CTcpRepeater::start()-Create() err=%d\n", listenError_ = CAsyncSocket::GetLastError());
    return;
  }
  // Before the bind, so a port whose old connections linger in TIME_WAIT can be taken again.
  int on = 1;
  if (!listenSocket_.SetSockOpt(SO_REUSEADDR, &on, sizeof on, SOL_SOCKET)) {
    trace("Error:CTcpRepeater::start()-SetSockOpt(() err=%d\n", listenError_ = CAsyncSocket::GetLastError());
    listenSocket_.Close();
    return;
  }
  // "::" takes IPv4 peers too (as ::ffff:a.b.c.d), whatever the system's default says.
  int off = 0;
  if (v6 && !listenSocket_.SetSockOpt(IPV6_V6ONLY, &off, sizeof off, IPPROTO_IPV6))
    trace("Error:CTcpRepeater::start()-SetSockOpt(IPV6_V6ONLY) err=%d\n", CAsyncSocket::GetLastError());
  if (!listenSocket_.Bind(port, bindAddress)) {
    trace("Error:CTcpRepeater::start()-Create() err=%d\n", listenError_ = CAsyncSocket::GetLastError());
    listenSocket_.Close();
    return;
  }
  listenSocket_.parent = parent;
  if (!listenSocket_.Listen(SOMAXCONN)) {
    trace("Error:CTcpRepeater::start()-Listen() err=%d\n", listenError_ = CAsyncSocket::GetLastError());
    return;
  }
  listening_ = true;
  std::string boundAddress;
  if (listenSocket_.GetSockName(boundAddress, boundPort_)) loop_.ownEndpoints().listening(boundPort_);
  trace("CTcpRepeater::start()-Listen() OK! Port=%d\n", port);
}

// Clients that arrive in a burst are taken several per wake-up (up to a bound, so a flood cannot
// hold up the pairs already open). The batch grows only while the listener is ready again in the
// very next round, so a client that comes alone costs no extra accept that finds nobody.
void TcpAcceptor::acceptBatch(const Taken& taken, int room) {
  const std::uint64_t round = loop_.round();
  if (round != fullBatchRound_ + 1) batch_ = 1;
  int count = 0;
  while (count < batch_ && count < room && isListening() && acceptOne(taken)) ++count;
  if (count == batch_) {
    fullBatchRound_ = round;
    batch_ = std::min(2 * batch_, kMaxAcceptBatch);
  }
}

void TcpAcceptor::holdAccepting(bool hold) {
  if (hold == holding_) return;
  holding_ = hold;
  const long events = hold ? CAsyncSocket::FD_ALL & ~CAsyncSocket::FD_ACCEPT : CAsyncSocket::FD_ALL;
  if (listenSocket_.handle() >= 0) listenSocket_.AsyncSelect(events);
}

void TcpAcceptor::acceptWaiting(const Taken& taken, int limit) {
  for (int count = 0; count < limit && isListening() && acceptOne(taken);) ++count;
}

// The outgoing socket is made before the client is taken: with no descriptor left for it the
// client stays queued until one is free, rather than being taken only to be dropped. One that no
// client took is kept for the next. False when there is nothing more to take now.
bool TcpAcceptor::acceptOne(const Taken& taken) {
  int family = spareFamily_;
  std::unique_ptr<CTcpSockStream> outgoing = spare_ ? std::move(spare_) : makeOutgoing(family);
  if (!outgoing) return false;
  int err = 0;
  std::unique_ptr<CTcpSockStream> accepted = acceptPeer(err);
  if (!accepted) {
    // Kept for a refused peer, for nobody left waiting, and when the accept itself found no
    // descriptor (accepting has paused; freeing this one would only wake it to fail again).
    if (err == 0 || err == EWOULDBLOCK || isDescriptorShortage(err)) {
      spare_ = std::move(outgoing);
      spareFamily_ = family;
    }
    return err == 0;
  }
  taken(std::move(accepted), std::move(outgoing), family);
  return true;
}

// A new stream holding the waiting connection, or null when there is none to serve; err tells
// why not (0 for a peer that was refused).
std::unique_ptr<CTcpSockStream> TcpAcceptor::acceptPeer(int& err) {
  err = 0;
  auto stream = std::make_unique<CTcpSockStream>();
  if (!listenSocket_.Accept(*stream)) {
    err = CAsyncSocket::GetLastError();
    // Would-block only ends a batch of accepts: nothing was waiting any more.
    if (err != EWOULDBLOCK) trace("Error:CTcpRepeater::notifyOnAccept()-Accept() err=%d\n", err);
    return nullptr;
  }
  const SocketAddress peer = stream->knownPeer();
  const std::string address = peer.text();
  const int port = peer.port();
  if (loop_.ownEndpoints().contains(peer, boundPort_)) {
    stream.reset();
    refuseAsOwn(peer);
    return nullptr;
  }
  if (filter_ && !judgeLater_ && !filter_->isAccept(address)) {
    stream.reset();
    trace("★★接続を拒否★★ PeerAddress=%s, port=%d\n", address.c_str(), port);
    if (listener_) listener_->notifyOnPeerRefused(address, port);
    return nullptr;
  }
  stream->peerAddress = address;
  stream->peerPort = port;
  trace("接続を受け付けました。PeerAddress=%s, port=%d\n", address.c_str(), port);
  return stream;
}

// A connection from one of our own outgoing sockets would make the relay feed itself, one more
// pair per pair, until descriptors run out. (The place for an event-log entry too.)
void TcpAcceptor::refuseAsOwn(const SocketAddress& peer) {
  trace("★★自身への中継を拒否★★ PeerAddress=%s, port=%d\n", peer.text().c_str(), peer.port());
  if (listener_) listener_->notifyOnLoopRefused(peer.text(), peer.port());
}

// The outgoing stream with a socket of the destination's likely family (family: 0 for none), or
// null when the descriptors have run out (accepting then pauses).
std::unique_ptr<CTcpSockStream> TcpAcceptor::makeOutgoing(int& family) {
  family = outgoingFamily_;
  auto outgoing = std::make_unique<CTcpSockStream>();
  if (outgoing->Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, family)) {
    if (!outgoingBind_.empty()) outgoing->Bind(0, outgoingBind_.c_str());
    return outgoing;
  }
  const int err = CAsyncSocket::GetLastError();
  family = 0;
  if (!isDescriptorShortage(err)) return outgoing;  // the connect step tries again and reports why not
  outgoing.reset();
  trace("Error:CTcpRepeater::notifyOnAccept()-Create() err=%d\n", err);
  listenSocket_.pauseAccepting();
  return nullptr;
}

}  // namespace net
