// The repeater's part of a slot with several destinations: the list, the choice among them for
// each client, the next one when a connect fails, and the health probes that keep their states.
#include <algorithm>
#include <cerrno>

#include "net/EventLoop.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"

using namespace std::chrono;

void CTcpRepeater::retarget(const std::vector<net::HostPort>& destinations) {
  if (destinations.empty()) return;
  std::vector<net::HostPort> before;
  for (const net::Destination& d : *destinations_) before.push_back({d.forwardHost, d.forwardPort});
  std::vector<net::Destination>& list = changeDestinations();
  list.resize(destinations.size(), list.front());  // the bind address and timeout are common
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    net::Destination& to = list[i];
    to.forwardHost = destinations[i].host;
    to.forwardPort = destinations[i].port;
    // Parsed once: every connection of a literal destination goes to this address.
    if (!net::SocketAddress::parse(to.forwardHost, to.forwardPort, to.literal)) to.literal = {};
  }
  const net::Destination& first = list.front();
  acceptor_->setOutgoing(first.literal.empty() ? AF_INET : first.literal.family(),
                         first.useConnectBindAddress ? first.connectBindAddress.c_str() : nullptr);
  if (before != destinations || (list.size() > 1) != (balancer_ != nullptr)) rebuildBalancer();
}

void CTcpRepeater::rebuildBalancer() {
  ++balancerGeneration_;
  balancer_.reset();
  const int n = static_cast<int>(destinations_->size());
  if (n > 1) balancer_ = std::make_unique<net::Balancer>(n, options_.balance, seconds(options_.retryDown));
  health_.reset();
  if (!balancer_ || options_.checkInterval <= 0 || !acceptor_->isListening()) return;
  const std::uint64_t generation = balancerGeneration_;
  health_ = std::make_unique<net::HealthCheck>(
      *destinations_, options_.checkInterval, options_.sendProxy,
      [this, generation](int destination, bool answered) { probed(generation, destination, answered); });
}

void CTcpRepeater::probed(std::uint64_t generation, int destination, bool answered) {
  if (!balancer_ || generation != balancerGeneration_) return;
  if (balancer_->probed(destination, answered, steady_clock::now())) destinationChanged(destination, answered);
}

// Once per change between up and down, not per client or probe.
void CTcpRepeater::destinationChanged(int destination, bool up) {
  const net::Destination& to = (*destinations_)[destination];
  trace("CTcpRepeater::%s() host=%s, port=%d\n", up ? "destinationUp" : "destinationDown", to.forwardHost.c_str(),
        to.forwardPort);
  if (listener) listener->notifyOnDestinationState(net::forwardValueText({to.forwardHost, to.forwardPort}), up);
}

std::vector<CTcpRepeater::DestinationState> CTcpRepeater::destinationStates() const {
  std::vector<DestinationState> states;
  if (!balancer_) return states;
  const auto now = steady_clock::now();
  for (int i = 0; i < balancer_->size(); ++i) {
    const net::Destination& d = (*destinations_)[i];
    const net::Balancer::State s = balancer_->stateAt(i, now);
    states.push_back({net::forwardValueText({d.forwardHost, d.forwardPort}), s.up, s.live});
  }
  return states;
}

// The connector is made here and started in its turn (connectPair), or at once for the next
// destination of a client whose connect failed.
void CTcpRepeater::startConnector(CTcpStreamPair& pair, int index, int destination, int family, milliseconds timeLeft) {
  const net::Destination& to = (*destinations_)[destination];
  if (CTcpStreamPair::Route* route = routed(pair)) {
    route->destination = destination;
    route->target = net::forwardValueText({to.forwardHost, to.forwardPort});
    balancer_->pairStarted(destination);
    route->countedLive = true;
  }
  net::TcpConnector::Owner& owner = *this;
  pair.connector = std::make_unique<net::TcpConnector>(owner, net::EventLoop::current(), to, *pair.connectStream, index,
                                                       family);
  if (timeLeft.count() >= 0) pair.connector->start(timeLeft);
}

CTcpStreamPair::Route* CTcpRepeater::routed(const CTcpStreamPair& pair) const {
  return balancer_ && pair.route && pair.route->generation == balancerGeneration_ ? pair.route.get() : nullptr;
}

const net::Destination& CTcpRepeater::destinationOf(const CTcpStreamPair& pair) const {
  const CTcpStreamPair::Route* route = routed(pair);
  return route ? (*destinations_)[route->destination] : destinations_->front();
}

// A refused connect leaves the next destination the rest of the client's connect time; one that
// timed out spent it all, so the next gets the whole connect time again (else one destination
// that never answers would fail every client sent to it while the others serve).
bool CTcpRepeater::failOver(int index, int err) {
  CTcpStreamPair* pair = pairs.at(index);
  CTcpStreamPair::Route* route = routed(*pair);
  if (!route) return false;
  const int timeout = destinationOf(*pair).connectTimeout;
  destinationFailed(*pair);
  const auto now = steady_clock::now();
  milliseconds left(-1);
  if (timeout > 0) {
    left = duration_cast<milliseconds>(pair->started + seconds(timeout) - now);
    if (err == ETIMEDOUT || left.count() <= 0) left = seconds(timeout);
  }
  const int next = balancer_->next(route->tried, route->destination, now);
  if (next < 0) return false;
  const net::Destination& to = (*destinations_)[next];
  trace("CTcpRepeater::failOver() index=%d err=%d, trying host=%s, port=%d\n", index, err, to.forwardHost.c_str(),
        to.forwardPort);
  pair->failure.clear();
  startConnector(*pair, index, next, 0, left);  // may end the pair
  return true;
}

// Its connect failed: down for the retry time, and no longer one of its live pairs.
void CTcpRepeater::destinationFailed(CTcpStreamPair& pair) {
  const CTcpStreamPair::Route* route = routed(pair);
  if (!route) return;
  if (balancer_->connectFailed(route->destination, steady_clock::now())) destinationChanged(route->destination, false);
  destinationEnded(pair);
}

void CTcpRepeater::destinationEnded(CTcpStreamPair& pair) {
  if (!pair.route || !pair.route->countedLive) return;
  pair.route->countedLive = false;
  if (routed(pair)) balancer_->pairEnded(pair.route->destination);
}
