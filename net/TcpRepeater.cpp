#include "net/TcpRepeater.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "net/EventLoop.h"
#include "net/Trace.h"

namespace {

using namespace std::chrono;

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

CTcpRepeater::CTcpRepeater()
    : acceptor_(makeAcceptor()), destinations_(std::make_shared<std::vector<net::Destination>>(1)) {
  destinations_->front().connectTimeout = kDefaultConnectTimeout;
}

std::unique_ptr<net::TcpAcceptor> CTcpRepeater::makeAcceptor() const {
  return std::make_unique<net::TcpAcceptor>(net::EventLoop::current(), filter, listener);
}

CTcpRepeater::~CTcpRepeater() {
  pairs.releasingInOrder();
  for (int i = 0; i < pairs.size(); ++i) {
    CTcpStreamPair* pair = pairs.release(i);
    if (!pair) continue;
    pair->closeBoth();
    delete pair;
  }
  acceptor_->close();
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
  for (net::Destination& to : changeDestinations()) to.connectTimeout = seconds >= 0 ? seconds : kDefaultConnectTimeout;
}

void CTcpRepeater::setHalfCloseTimeout(int seconds) {
  halfCloseTimeout = seconds >= 0 ? seconds : kDefaultHalfCloseTimeout;
}

void CTcpRepeater::setListenBindAddress(int use, const std::string& address) {
  useListenBindAddress = use;
  listenBindAddress = address;
}

void CTcpRepeater::setConnectBindAddress(int use, const std::string& address) {
  const net::Destination& now = destinations_->front();
  const bool probesMove = health_ && (now.useConnectBindAddress != use || now.connectBindAddress != address);
  for (net::Destination& to : changeDestinations()) {
    to.useConnectBindAddress = use;
    to.connectBindAddress = address;
  }
  if (probesMove) rebuildBalancer();  // the probes bind where the pairs do
}

std::vector<net::Destination>& CTcpRepeater::changeDestinations() {
  if (connectors_ > 0) {
    retired_.push_back(destinations_);
    destinations_ = std::make_shared<std::vector<net::Destination>>(*destinations_);
  }
  return *destinations_;
}

bool CTcpRepeater::listenName(std::string& address, int& port) const { return acceptor_->name(address, port); }

void CTcpRepeater::start(int port, const std::string& host, int destinationPort) {
  start(port, std::vector<net::HostPort>{{host, destinationPort}});
}

void CTcpRepeater::start(int port, const std::vector<net::HostPort>& destinations) {
  retarget(destinations);
  listenPort = port;
  acceptor_->listen(listenPort, useListenBindAddress ? listenBindAddress.c_str() : nullptr, this);
  holdIfFull();
  if (balancer_ && options_.checkInterval > 0) rebuildBalancer();  // the probes start with the listener
}

void CTcpRepeater::retarget(const std::string& host, int destinationPort) {
  retarget(std::vector<net::HostPort>{{host, destinationPort}});
}

void CTcpRepeater::setOptions(const net::RelayOptions& options) {
  const bool rebalance = options.balance != options_.balance || options.retryDown != options_.retryDown ||
                         options.checkInterval != options_.checkInterval || options.sendProxy != options_.sendProxy;
  options_ = options;
  if (rebalance) rebuildBalancer();
  acceptor_->judgeLater(options_.acceptProxy);
  holdIfFull();
}

void CTcpRepeater::holdIfFull() { acceptor_->holdAccepting(options_.maxConn > 0 && pairs.live() >= options_.maxConn); }

int CTcpRepeater::relisten(int port, int useBindAddress, const std::string& bindAddress) {
  std::unique_ptr<net::TcpAcceptor> fresh = makeAcceptor();
  fresh->judgeLater(options_.acceptProxy);
  const net::Destination& to = destinations_->front();
  fresh->setOutgoing(to.literal.empty() ? AF_INET : to.literal.family(),
                     to.useConnectBindAddress ? to.connectBindAddress.c_str() : nullptr);
  const char* bind = useBindAddress ? bindAddress.c_str() : nullptr;
  fresh->listen(port, bind, this);
  const bool overlapping = !fresh->isListening() && fresh->listenError() == EADDRINUSE && port == listenPort;
  if (overlapping && acceptor_->isListening()) {
    takeQueued();
    acceptor_->close();
    fresh->listen(port, bind, this);
    if (!fresh->isListening())  // the old address is free again: it serves on as it did
      acceptor_->listen(listenPort, useListenBindAddress ? listenBindAddress.c_str() : nullptr, this);
  }
  if (!fresh->isListening()) return fresh->listenError() ? fresh->listenError() : EADDRNOTAVAIL;
  takeQueued();
  acceptor_ = std::move(fresh);
  holdIfFull();
  listenPort = port;
  useListenBindAddress = useBindAddress;
  listenBindAddress = bindAddress;
  return 0;
}

void CTcpRepeater::stopListening() {
  takeQueued();
  acceptor_->close();
  health_.reset();
}

void CTcpRepeater::takeQueued() {
  if (!acceptor_->isListening()) return;
  acceptor_->acceptWaiting([this](std::unique_ptr<CTcpSockStream> accepted, std::unique_ptr<CTcpSockStream> outgoing,
                                  int family) { taken(std::move(accepted), std::move(outgoing), family); },
                           kMaxQueuedTaken);
  connectWaiting();
}

void CTcpRepeater::stop() {
  pairs.releasingInOrder();
  for (int i = 0; i < pairs.size(); ++i) closePair(i);
  toConnect_.clear();
  connectLater_.cancel();
  acceptor_->close();
  health_.reset();
}

CTcpStreamPair* CTcpRepeater::getNextPair(int& position) { return pairs.next(position); }

bool CTcpRepeater::closeBySerial(std::uint64_t serial, PairEnding how) {
  for (int position = 0; const CTcpStreamPair* pair = pairs.next(position);)
    if (pair->serial == serial) return closePair(position - 1, how), true;
  return false;
}

// Taking a client is cheap and connecting onward is not, so in a burst fewer are connected per
// round than are taken; the rest wait their turn in arrival order.
void CTcpRepeater::notifyOnAccept(int, std::string) {
  const int room = options_.maxConn > 0 ? options_.maxConn - pairs.live() : INT_MAX;
  if (room > 0)
    acceptor_->acceptBatch([this](std::unique_ptr<CTcpSockStream> accepted, std::unique_ptr<CTcpSockStream> outgoing,
                                  int family) { taken(std::move(accepted), std::move(outgoing), family); },
                           room);
  holdIfFull();
  connectWaiting();
}

void CTcpRepeater::taken(std::unique_ptr<CTcpSockStream> accepted, std::unique_ptr<CTcpSockStream> outgoing,
                         int family) {
  accepted->parent = this;
  accepted->kind = "acceptSocket";
  accepted->setBuffers(bufferSizeKB);
  outgoing->parent = this;
  outgoing->kind = "connectSocket";
  outgoing->setBuffers(bufferSizeKB);
  accepted->pairSocket = outgoing.get();
  outgoing->pairSocket = accepted.get();
  auto* pair = new CTcpStreamPair;
  pair->acceptStream = std::move(accepted);
  pair->connectStream = std::move(outgoing);
  pair->started = steady_clock::now();
  pair->serial = ++nextSerial_;
  const int index = addPair(pair);
  pair->acceptStream->index = pair->connectStream->index = index;
  if (capture_) captureOpened(*pair);
  if (options_.keepAlive > 0) net::setKeepAlive(*pair->acceptStream, options_.keepAlive);
  if (options_.sendProxy > 0 && !options_.acceptProxy) {
    const CTcpSockStream& client = *pair->acceptStream;
    queueProxyHeader(*pair, client.knownPeer(), net::SocketAddress::localOf(client.handle()));
  }
  int destination = 0;
  if (balancer_) {
    pair->route = std::make_unique<CTcpStreamPair::Route>();
    destination = balancer_->choose(pair->route->tried, pair->started);
    pair->route->generation = balancerGeneration_;
  }
  startConnector(*pair, index, std::max(destination, 0), family, milliseconds(-1));
  ++connectors_;
  if (options_.acceptProxy) return awaitHeader(*pair, index);
  toConnect_.emplace_back(index, pair->serial);
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
  if (!toConnect_.empty()) connectLater_.start(milliseconds(0), [this] { connectWaiting(); });
}

void CTcpRepeater::connectPair(int index) {
  CTcpStreamPair* pair = pairs.at(index);
  pair->acceptStream->connectState = pair->connectStream->connectState = STREAM_CONNECTING;
  pair->connector->start();  // may end the pair
}

void CTcpRepeater::notifyOnConnect(int index, std::string) {
  trace("CTcpRepeater::notifyOnConnect()\n");
  if (pairs.at(index)) connectDone(index);
}

// Counted from here until the pair ends: the count follows the states without walking the table.
// The connector's work is done; the pair keeps its registration as one of our own.
void CTcpRepeater::connectDone(int index) {
  CTcpStreamPair* pair = pairs.at(index);
  if (!isCounted(pair)) ++connectedPairs;
  if (pair->connector) {
    pair->ownEndpoint = pair->connector->takeEndpoint();
    pair->connector.reset();
    connectorDone();
  }
  pair->acceptStream->connectState = pair->connectStream->connectState = STREAM_CONNECTED;
  CTcpSockStream& outgoing = *pair->connectStream;
  outgoing.GetPeerName(outgoing.peerAddress, outgoing.peerPort);  // as connected: no system call
  connectedOptions(*pair, index);
  if (listener) listener->notifyOnPairOpen(*pair);
  updateConnectionCount();
}

void CTcpRepeater::connectedOptions(CTcpStreamPair& pair, int index) {
  const CTcpStreamPair::Route* route = routed(pair);
  if (route && balancer_->connected(route->destination, steady_clock::now()))
    destinationChanged(route->destination, true);
  if (options_.keepAlive > 0) net::setKeepAlive(*pair.connectStream, options_.keepAlive);
  if (faults_.any()) applyFaults(pair);
  if (options_.idleTimeout <= 0) return;
  pair.acceptStream->watchIdle();
  pair.connectStream->watchIdle();
  const int bound = options_.idleTimeout;
  pair.silenceTimer = std::make_unique<net::Timer>();
  pair.silenceTimer->start(seconds(bound), [this, index, bound] { checkSilence(index, bound); });
}

void CTcpRepeater::connectFailed(int index, int err) {
  CTcpStreamPair* pair = pairs.at(index);
  const net::Destination& to = destinationOf(*pair);
  trace("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=%s, port=%d err=%d\n", to.forwardHost.c_str(),
        to.forwardPort, err);
  if (pair->connector) pair->failure = pair->connector->failure();
  if (failOver(index, err)) return;
  abortPair(index, pair->connectStream.get(), PairEnding::ConnectFailed, err);
}

// Reported as the system reports a connect that timed out, so it counts as a failed connect.
void CTcpRepeater::connectTimedOut(int index) {
  CTcpStreamPair* pair = pairs.at(index);  // the connector dies with its pair: this one is live
  const net::Destination& to = destinationOf(*pair);
  trace("CTcpRepeater::connectTimeout() host=%s, port=%d, after %ds\n", to.forwardHost.c_str(), to.forwardPort,
        to.connectTimeout);
  pair->connector->giveUp();  // no next address of this destination: the next destination, if any
  notifyOnError(index, pair->connectStream->kind, ETIMEDOUT);
}

void CTcpRepeater::notifyOnClose(int index, std::string) {
  trace("CTcpRepeater::notifyOnClose()\n");
  const CTcpStreamPair* pair = pairs.at(index);
  const bool destinationFirst = pair && pair->endedFirst && pair->endedFirst == pair->connectStream.get();
  closePair(index, destinationFirst ? PairEnding::DestinationClosed : PairEnding::ClientClosed);
}

void CTcpRepeater::notifyOnError(int index, std::string kind, int err) {
  trace("CTcpRepeater::notifyOnError() index=%d, kind=%s, err=%d\n", index, kind.c_str(), err);
  CTcpStreamPair* pair = pairs.at(index);
  if (!pair) return closePair(index);  // only tidies and reports the count
  // A connect that failed later: the next address, if one is left.
  if (kind == "connectSocket" && pair->connector && pair->connector->retry(err)) return;
  if (kind == "connectSocket" && pair->connector && failOver(index, err)) return;
  CTcpSockStream* failed = kind == "acceptSocket" ? pair->acceptStream.get() : pair->connectStream.get();
  if (failed == pair->acceptStream.get() && (err == ECONNRESET || err == EPIPE)) captureReset(*pair, Direction::up);
  abortPair(index, failed, endingOfError(*pair, kind, err), err);
}

int CTcpRepeater::addPair(CTcpStreamPair* pair) { return pairs.add(pair); }

void CTcpRepeater::closePair(int index, PairEnding how) { endPair(index, false, nullptr, how, 0); }

void CTcpRepeater::abortPair(int index, CTcpSockStream* failed, PairEnding how, int err) {
  endPair(index, true, failed, how, err);
}

void CTcpRepeater::endPair(int index, bool abortive, CTcpSockStream* failed, PairEnding how, int err) {
  // Out of the table before the teardown, so nothing it triggers finds a half-closed pair.
  if (CTcpStreamPair* pair = pairs.release(index)) {
    if (isCounted(pair)) --connectedPairs;
    destinationEnded(*pair);
    const bool connecting = pair->connector != nullptr;
    if (abortive) pair->offerQueued(failed);  // first, so the report counts what it delivers
    captureEnded(*pair, abortive);
    if (listener) listener->notifyOnPairEnd(*pair, how, err);
    if (abortive) {
      pair->abortBoth(failed);
    } else {
      pair->closeBoth();
    }
    delete pair;
    if (connecting) connectorDone();
    holdIfFull();
  }
  updateConnectionCount();
}

void CTcpRepeater::updateConnectionCount() {
  if (listener) listener->notifyOnConnectionCount(connectedPairs);
}

void CTcpRepeater::notifyOnHalfClose(int index, std::string kind) {
  CTcpStreamPair* pair = pairs.at(index);
  if (!pair) return;
  if (!pair->endedFirst)
    pair->endedFirst = kind == "acceptSocket" ? pair->acceptStream.get() : pair->connectStream.get();
  if (halfCloseTimeout <= 0 || pair->idleTimer.active()) return;  // the second direction changes nothing
  pair->acceptStream->watchIdle();
  pair->connectStream->watchIdle();
  // The bound of the moment the direction ended: a later change of the setting leaves it be.
  const int bound = halfCloseTimeout;
  pair->idleTimer.start(seconds(bound), [this, index, bound] { checkIdle(index, bound); });
}

// Bytes moved since the timer was set only push the bound back; a pair silent for the whole
// bound is cut.
void CTcpRepeater::checkIdle(int index, int boundSeconds) {
  CTcpStreamPair* pair = pairs.at(index);
  CTcpSockStream& in = *pair->acceptStream;
  CTcpSockStream& out = *pair->connectStream;
  const auto moved = std::max(in.lastMoved(), out.lastMoved());
  const auto idle = duration_cast<milliseconds>(CTcpSockStream::Clock::now() - moved);
  const milliseconds bound = seconds(boundSeconds);
  if (idle < bound) {
    pair->idleTimer.start(bound - idle, [this, index, boundSeconds] { checkIdle(index, boundSeconds); });
    return;
  }
  trace("CTcpRepeater::halfCloseTimeout() index=%d, idle %ds; client %s/%s, destination %s/%s\n", index, boundSeconds,
        toText(in.input()), toText(in.output()), toText(out.input()), toText(out.output()));
  abortPair(index, nullptr, PairEnding::HalfCloseTimedOut, 0);
}

// As the half-close bound, but from the connect on and for both directions; the pair ends in
// order, as if both peers had closed.
void CTcpRepeater::checkSilence(int index, int boundSeconds) {
  CTcpStreamPair* pair = pairs.at(index);
  const auto moved = std::max(pair->acceptStream->lastMoved(), pair->connectStream->lastMoved());
  const auto idle = duration_cast<milliseconds>(CTcpSockStream::Clock::now() - moved);
  const milliseconds bound = seconds(boundSeconds);
  if (idle < bound) {
    pair->silenceTimer->start(bound - idle, [this, index, boundSeconds] { checkSilence(index, boundSeconds); });
    return;
  }
  trace("CTcpRepeater::idleTimeout() index=%d, idle %ds\n", index, boundSeconds);
  closePair(index, PairEnding::IdleTimedOut);
}

void CTcpRepeater::connectorDone() {
  // The replaced destinations are read by connectors alone: with none left, none is.
  if (--connectors_ == 0) retired_.clear();
}
