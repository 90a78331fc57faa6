#include "net/TcpRepeater.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "net/EventLoop.h"
#include "net/ListenAddress.h"
#include "net/OwnEndpoints.h"
#include "net/ResetAfterDrain.h"
#include "net/Trace.h"

namespace {

enum class Ending { Orderly, Reset, ResetAfterDrain };

void closeStream(CTcpSockStream*& stream, Ending how) {
  if (!stream) return;
  if (stream->handle() >= 0) {
    if (how == Ending::ResetAfterDrain) {
      net::resetAfterDrain(stream->Detach());
    } else if (how == Ending::Reset) {
      linger reset{1, 0};
      stream->SetSockOpt(SO_LINGER, &reset, sizeof reset, SOL_SOCKET);
    } else if (!stream->bothDirectionsEnded()) {  // else a shutdown could only fail
      ::shutdown(stream->handle(), SHUT_RDWR);
    }
  }
  stream->Close();
  delete stream;
  stream = nullptr;
}

const char* orNull(int use, const std::string& address) { return use ? address.c_str() : nullptr; }

PairEnding endingOfError(const CTcpStreamPair& pair, const std::string& kind, int err) {
  const bool client = kind == "acceptSocket";
  if (!client && pair.connectStream && pair.connectStream->connectState != STREAM_CONNECTED)
    return PairEnding::ConnectFailed;
  if (err == ECONNRESET || err == EPIPE) return client ? PairEnding::ClientReset : PairEnding::DestinationReset;
  return client ? PairEnding::ClientFailed : PairEnding::DestinationFailed;
}

bool isCounted(const CTcpStreamPair* p) {
  return p->acceptStream && p->connectStream && p->acceptStream->connectState == STREAM_CONNECTED &&
         p->connectStream->connectState == STREAM_CONNECTED;
}

}  // namespace

void CTcpStreamPair::closeBoth() {
  net::OwnEndpoints::current().remove(ownEndpoint);
  closeStream(acceptStream, Ending::Orderly);
  closeStream(connectStream, Ending::Orderly);
}

void CTcpStreamPair::offerQueued(CTcpSockStream* failed) {
  // A failure seen on a send can come before the read of what the peer sent ahead of it.
  if (failed && failed->pairSocket && failed->pairSocket->connectState == STREAM_CONNECTED) failed->takeArrived();
  for (CTcpSockStream* s : {acceptStream, connectStream}) {
    if (!s || s == failed || s->connectState != STREAM_CONNECTED) continue;
    // Small-segment coalescing would hold back the last bytes; they go now, ahead of the reset.
    int on = 1;
    s->SetSockOpt(TCP_NODELAY, &on, sizeof on, IPPROTO_TCP);
    s->offerQueued();
  }
}

void CTcpStreamPair::abortBoth(CTcpSockStream* failed) {
  net::OwnEndpoints::current().remove(ownEndpoint);
  for (CTcpSockStream*& s : {std::ref(acceptStream), std::ref(connectStream)}) {
    const bool owed = s && s != failed && s->connectState == STREAM_CONNECTED;
    closeStream(s, owed ? Ending::ResetAfterDrain : Ending::Reset);
  }
}

CTcpRepeater::CTcpRepeater() = default;

CTcpRepeater::~CTcpRepeater() {
  pairs.releasingInOrder();
  for (int i = 0; i < pairs.size(); ++i) {
    CTcpStreamPair* pair = pairs.release(i);
    if (!pair) continue;
    pair->closeBoth();
    delete pair;
  }
  closeListener();
}

void CTcpRepeater::closeListener() {
  if (boundPort_ != 0) net::OwnEndpoints::current().notListening(boundPort_);
  boundPort_ = 0;
  listenSocket.Close();
  listening_ = false;
  delete spare_;
  spare_ = nullptr;
}

void CTcpRepeater::setListener(CTcpRepeaterListener* l) { listener = l; }
void CTcpRepeater::setBufferSize(int kb) {
  if (kb < 1 || kb > CTcpSockStream::kMaxBufferKB) {
    trace("Error:CTcpRepeater::setBufferSize() size=%dKB, using %dKB\n", kb, CTcpSockStream::kDefaultBufferKB);
    kb = CTcpSockStream::kDefaultBufferKB;
  }
  bufferSizeKB = kb;
}

void CTcpRepeater::setConnectTimeout(int seconds) {
  connectTimeout = seconds >= 0 ? seconds : kDefaultConnectTimeout;
}

void CTcpRepeater::setHalfCloseTimeout(int seconds) {
  halfCloseTimeout = seconds >= 0 ? seconds : kDefaultHalfCloseTimeout;
}

void CTcpRepeater::setListenBindAddress(int use, const std::string& address) {
  useListenBindAddress = use;
  listenBindAddress = address;
}

void CTcpRepeater::setConnectBindAddress(int use, const std::string& address) {
  useConnectBindAddress = use;
  connectBindAddress = address;
}

bool CTcpRepeater::isListening() const { return listening_ && listenSocket.handle() >= 0; }

bool CTcpRepeater::listenName(std::string& address, int& port) const {
  return isListening() && listenSocket.GetSockName(address, port);
}

void CTcpRepeater::start(int port, const std::string& host, int destinationPort) {
  listenPort = port;
  forwardHost = host;
  forwardPort = destinationPort;
  // Parsed once: every connection of a literal destination goes to this address.
  if (!net::SocketAddress::parse(forwardHost, forwardPort, forwardLiteral_)) forwardLiteral_ = {};
  closeListener();
  const bool v6 = useListenBindAddress && net::literalFamily(listenBindAddress) == AF_INET6;
  if (!listenSocket.Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, v6 ? AF_INET6 : AF_INET)) {
    trace("Error:CTcpRepeater::start()-Create() err=%d\n", CAsyncSocket::GetLastError());
    return;
  }
  // Before the bind, so a port whose old connections linger in TIME_WAIT can be taken again.
  int on = 1;
  if (!listenSocket.SetSockOpt(SO_REUSEADDR, &on, sizeof on, SOL_SOCKET)) {
    trace("Error:CTcpRepeater::start()-SetSockOpt(() err=%d\n", CAsyncSocket::GetLastError());
    listenSocket.Close();
    return;
  }
  // "::" takes IPv4 peers too (as ::ffff:a.b.c.d), whatever the system's default says.
  int off = 0;
  if (v6 && !listenSocket.SetSockOpt(IPV6_V6ONLY, &off, sizeof off, IPPROTO_IPV6))
    trace("Error:CTcpRepeater::start()-SetSockOpt(IPV6_V6ONLY) err=%d\n", CAsyncSocket::GetLastError());
  if (!listenSocket.Bind(listenPort, orNull(useListenBindAddress, listenBindAddress))) {
    trace("Error:CTcpRepeater::start()-Create() err=%d\n", CAsyncSocket::GetLastError());
    listenSocket.Close();
    return;
  }
  listenSocket.parent = this;
  if (!listenSocket.Listen(SOMAXCONN)) {
    trace("Error:CTcpRepeater::start()-Listen() err=%d\n", CAsyncSocket::GetLastError());
    return;
  }
  listening_ = true;
  std::string boundAddress;
  if (listenSocket.GetSockName(boundAddress, boundPort_)) net::OwnEndpoints::current().listening(boundPort_);
  trace("CTcpRepeater::start()-Listen() OK! Port=%d\n", listenPort);
}

void CTcpRepeater::stop() {
  pairs.releasingInOrder();
  for (int i = 0; i < pairs.size(); ++i) closePair(i);
  toConnect_.clear();
  connectLater_.cancel();
  closeListener();
}

CTcpStreamPair* CTcpRepeater::getNextPair(int& position) {
  return pairs.next(position);
}

// A new stream holding the waiting connection, or null when there is none to serve; err tells
// why not (0 for a peer that was refused).
CTcpSockStream* CTcpRepeater::acceptPeer(int& err) {
  err = 0;
  auto* stream = new CTcpSockStream();
  if (!listenSocket.Accept(*stream)) {
    err = CAsyncSocket::GetLastError();
    // Would-block only ends a batch of accepts: nothing was waiting any more.
    if (err != EWOULDBLOCK) trace("Error:CTcpRepeater::notifyOnAccept()-Accept() err=%d\n", err);
    delete stream;
    return nullptr;
  }
  const net::SocketAddress peer = stream->knownPeer();
  const std::string address = peer.text();
  const int port = peer.port();
  if (refusedAsOwn(stream, peer)) return nullptr;
  if (filter && !filter->isAccept(address)) {
    delete stream;
    trace("★★接続を拒否★★ PeerAddress=%s, port=%d\n", address.c_str(), port);
    if (listener) listener->notifyOnPeerRefused(address, port);
    return nullptr;
  }
  stream->peerAddress = address;
  stream->peerPort = port;
  trace("接続を受け付けました。PeerAddress=%s, port=%d\n", address.c_str(), port);
  return stream;
}

// A connection from one of our own outgoing sockets would make the relay feed itself, one more
// pair per pair, until descriptors run out. (The place for an event-log entry too.)
bool CTcpRepeater::refusedAsOwn(CTcpSockStream* stream, const net::SocketAddress& peer) {
  if (!net::OwnEndpoints::current().contains(peer, boundPort_)) return false;
  delete stream;
  trace("★★自身への中継を拒否★★ PeerAddress=%s, port=%d\n", peer.text().c_str(), peer.port());
  if (listener) listener->notifyOnLoopRefused(peer.text(), peer.port());
  return true;
}

// The outgoing stream with a socket of the destination's likely family (family: 0 for none), or
// null when the descriptors have run out (accepting then pauses).
CTcpSockStream* CTcpRepeater::makeOutgoing(int& family) {
  family = forwardLiteral_.empty() ? AF_INET : forwardLiteral_.family();
  auto* outgoing = new CTcpSockStream();
  if (outgoing->Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, family)) {
    if (useConnectBindAddress) outgoing->Bind(0, connectBindAddress.c_str());
    return outgoing;
  }
  const int err = CAsyncSocket::GetLastError();
  family = 0;
  if (!isDescriptorShortage(err)) return outgoing;  // the connect step tries again and reports why not
  delete outgoing;
  trace("Error:CTcpRepeater::notifyOnAccept()-Create() err=%d\n", err);
  listenSocket.pauseAccepting();
  return nullptr;
}

// Clients that arrive in a burst are taken several per wake-up (up to a bound, so a flood cannot
// hold up the pairs already open). The batch grows only while the listener is ready again in the
// very next round, so a client that comes alone costs no extra accept that finds nobody. Taking a
// client is cheap and connecting onward is not, so in a burst fewer are connected per round than
// are taken; the rest wait their turn in arrival order.
void CTcpRepeater::notifyOnAccept(int, std::string) {
  const std::uint64_t round = net::EventLoop::current().round();
  if (round != fullBatchRound_ + 1) acceptBatch_ = 1;
  int taken = 0;
  while (taken < acceptBatch_ && isListening() && acceptOne()) ++taken;
  if (taken == acceptBatch_) {
    fullBatchRound_ = round;
    acceptBatch_ = std::min(2 * acceptBatch_, kMaxAcceptBatch);
  }
  connectWaiting();
}

void CTcpRepeater::connectWaiting() {
  // Taken off before connecting: a connect that fails at once ends its pair, and what that
  // reports may stop the repeater, which empties the queue.
  for (int n = 0; n < kConnectsPerRound && !toConnect_.empty();) {
    const auto [index, serial] = toConnect_.front();
    toConnect_.pop_front();
    const CTcpStreamPair* pair = pairs.at(index);
    if (!pair || pair->serial != serial) continue;  // ended while it waited
    connectPair(index);
    ++n;
  }
  if (!toConnect_.empty()) connectLater_.start(std::chrono::milliseconds(0), [this] { connectWaiting(); });
}

// The outgoing socket is made before the client is taken: with no descriptor left for it the
// client stays queued until one is free, rather than being taken only to be dropped. One that no
// client took is kept for the next. False when there is nothing more to take now.
bool CTcpRepeater::acceptOne() {
  int family = spareFamily_;
  CTcpSockStream* outgoing = spare_ ? spare_ : makeOutgoing(family);
  spare_ = nullptr;
  if (!outgoing) return false;
  int err = 0;
  CTcpSockStream* accepted = acceptPeer(err);
  if (!accepted) {
    // Kept for a refused peer, for nobody left waiting, and when the accept itself found no
    // descriptor (accepting has paused; freeing this one would only wake it to fail again).
    if (err == 0 || err == EWOULDBLOCK || isDescriptorShortage(err)) {
      spare_ = outgoing;
      spareFamily_ = family;
    } else {
      delete outgoing;
    }
    return err == 0;
  }
  accepted->parent = this;
  accepted->kind = "acceptSocket";
  accepted->setBuffers(bufferSizeKB);
  outgoing->parent = this;
  outgoing->kind = "connectSocket";
  outgoing->setBuffers(bufferSizeKB);

  accepted->pairSocket = outgoing;
  outgoing->pairSocket = accepted;
  auto* pair = new CTcpStreamPair;
  pair->acceptStream = accepted;
  pair->connectStream = outgoing;
  pair->socketFamily = family;
  pair->started = std::chrono::steady_clock::now();
  pair->serial = ++nextSerial_;
  int index = addPair(pair);
  accepted->index = outgoing->index = index;
  toConnect_.emplace_back(index, pair->serial);
  return true;
}

void CTcpRepeater::notifyOnConnect(int index, std::string) {
  trace("CTcpRepeater::notifyOnConnect()\n");
  if (CTcpStreamPair* pair = pairs.at(index)) connected(pair);
}

void CTcpRepeater::notifyOnClose(int index, std::string) {
  trace("CTcpRepeater::notifyOnClose()\n");
  const CTcpStreamPair* pair = pairs.at(index);
  const bool destinationFirst = pair && pair->connectStream && pair->connectStream->peerClosedFirst();
  closePair(index, destinationFirst ? PairEnding::DestinationClosed : PairEnding::ClientClosed);
}

void CTcpRepeater::notifyOnError(int index, std::string kind, int err) {
  trace("CTcpRepeater::notifyOnError() index=%d, kind=%s, err=%d\n", index, kind.c_str(), err);
  if (kind == "connectSocket" && retryConnect(index, err)) return;
  const CTcpStreamPair* pair = pairs.at(index);
  if (!pair) return closePair(index);  // only tidies and reports the count
  abortPair(index, kind == "acceptSocket" ? pair->acceptStream : pair->connectStream, endingOfError(*pair, kind, err), err);
}

int CTcpRepeater::addPair(CTcpStreamPair* pair) { return pairs.add(pair); }

// Counted from here until the pair ends: the count follows the states without walking the table.
void CTcpRepeater::connected(CTcpStreamPair* pair) {
  if (!isCounted(pair)) ++connectedPairs;
  pair->connectTimer.cancel();
  pair->addresses.clear();
  pair->acceptStream->connectState = pair->connectStream->connectState = STREAM_CONNECTED;
  CTcpSockStream* outgoing = pair->connectStream;
  outgoing->GetPeerName(outgoing->peerAddress, outgoing->peerPort);  // as connected: no system call
  updateConnectionCount();
}

void CTcpRepeater::closePair(int index, PairEnding how) { endPair(index, false, nullptr, how, 0); }

void CTcpRepeater::abortPair(int index, CTcpSockStream* failed, PairEnding how, int err) {
  endPair(index, true, failed, how, err);
}

void CTcpRepeater::endPair(int index, bool abortive, CTcpSockStream* failed, PairEnding how, int err) {
  // Out of the table before the teardown, so nothing it triggers finds a half-closed pair.
  if (CTcpStreamPair* pair = pairs.release(index)) {
    if (isCounted(pair)) --connectedPairs;
    if (abortive) pair->offerQueued(failed);  // first, so the report counts what it delivers
    if (listener) listener->notifyOnPairEnd(*pair, how, err);
    if (abortive) {
      pair->abortBoth(failed);
    } else {
      pair->closeBoth();
    }
    delete pair;
  }
  updateConnectionCount();
}

void CTcpRepeater::updateConnectionCount() {
  if (listener) listener->notifyOnConnectionCount(connectedPairs);
}
