// The repeater's outgoing side: the destination's name looked up off the loop, its addresses
// tried in order until one answers, the whole bounded by the connect timeout; and the bound on
// a pair that has half-closed and then gone quiet.
#include <cerrno>

#include "net/OwnEndpoints.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"

namespace {

using namespace std::chrono;

// A fresh socket of the family for the next attempt, unless the pair still holds an unused one.
bool openFor(CTcpStreamPair* pair, int family, const char* bindAddress) {
  CTcpSockStream* outgoing = pair->connectStream;
  const bool reuse = pair->socketFamily == family && outgoing->handle() >= 0;
  pair->socketFamily = 0;
  if (reuse) return true;
  outgoing->Close();
  if (!outgoing->Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, family)) return false;
  return !bindAddress || outgoing->Bind(0, bindAddress);
}

}  // namespace

void CTcpRepeater::connectPair(int index) {
  CTcpStreamPair* pair = pairs.at(index);
  pair->acceptStream->connectState = pair->connectStream->connectState = STREAM_CONNECTING;
  if (connectTimeout > 0)
    pair->connectTimer.start(seconds(connectTimeout), [this, index] { connectTimedOut(index); });
  if (!forwardLiteral_.empty()) {
    pair->addresses = {forwardLiteral_};
    connectNext(index);
    return;
  }
  trace("CTcpRepeater::notifyOnAccept()-Resolve() host=%s\n", forwardHost.c_str());
  pair->lookup = net::Resolver::current().lookup(
      forwardHost, [this, index](int err, const std::vector<net::SocketAddress>& found) { onResolved(index, err, found); });
}

void CTcpRepeater::onResolved(int index, int err, const std::vector<net::SocketAddress>& found) {
  CTcpStreamPair* pair = pairs.at(index);  // the request dies with its pair: this one is live
  if (err != 0) return connectFailed(index, err);
  pair->addresses = found;
  for (net::SocketAddress& a : pair->addresses) a.setPort(forwardPort);
  pair->nextAddress = 0;
  connectNext(index);
}

void CTcpRepeater::connectNext(int index) {
  CTcpStreamPair* pair = pairs.at(index);
  CTcpSockStream* outgoing = pair->connectStream;
  int err = EINVAL;
  while (pair->nextAddress < pair->addresses.size()) {
    const net::SocketAddress& to = pair->addresses[pair->nextAddress++];
    net::OwnEndpoints::current().remove(pair->ownEndpoint);
    pair->ownEndpoint.clear();
    if (!openFor(pair, to.family(), useConnectBindAddress ? connectBindAddress.c_str() : nullptr)) {
      err = CAsyncSocket::GetLastError();
    } else {
      const bool atOnce = outgoing->ConnectTo(to);
      err = atOnce ? 0 : CAsyncSocket::GetLastError();
      if (atOnce || err == EWOULDBLOCK) {
        auto& own = net::OwnEndpoints::current();
        if (own.mayComeBack(to.port()))
          pair->ownEndpoint = own.add(net::SocketAddress::localOf(outgoing->handle()), to.port());
        if (!atOnce) {
          trace("CTcpRepeater::notifyOnAccept()-Connect() WSAEWOULDBLOCK  host=%s, port=%d \n", forwardHost.c_str(), forwardPort);
          return;
        }
        trace("CTcpRepeater::notifyOnAccept()-Connect() OK host=%s, port=%d \n", forwardHost.c_str(), forwardPort);
        connected(pair);
        return;
      }
    }
    if (pair->nextAddress < pair->addresses.size())
      trace("CTcpRepeater::connectNext() address=%s err=%d, trying the next\n", to.text().c_str(), err);
  }
  connectFailed(index, err);
}

// A connect that failed later: the next address, if one is left. False when the pair is done.
bool CTcpRepeater::retryConnect(int index, int err) {
  CTcpStreamPair* pair = pairs.at(index);
  if (!pair) return false;
  if (pair->connectStream->connectState != STREAM_CONNECTING || pair->nextAddress >= pair->addresses.size())
    return false;
  trace("CTcpRepeater::connectNext() address=%s err=%d, trying the next\n",
        pair->addresses[pair->nextAddress - 1].text().c_str(), err);
  connectNext(index);
  return true;
}

void CTcpRepeater::connectFailed(int index, int err) {
  trace("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=%s, port=%d err=%d\n",
        forwardHost.c_str(), forwardPort, err);
  abortPair(index, pairs.at(index)->connectStream, PairEnding::ConnectFailed, err);
}

// Reported as the system reports a connect that timed out, so it counts as a failed connect.
void CTcpRepeater::connectTimedOut(int index) {
  CTcpStreamPair* pair = pairs.at(index);  // the timer dies with its pair: this one is live
  trace("CTcpRepeater::connectTimeout() host=%s, port=%d, after %ds\n", forwardHost.c_str(), forwardPort,
        connectTimeout);
  pair->lookup.cancel();
  pair->addresses.clear();
  notifyOnError(index, pair->connectStream->kind, ETIMEDOUT);
}

void CTcpRepeater::notifyOnHalfClose(int index, std::string) {
  CTcpStreamPair* pair = pairs.at(index);
  if (halfCloseTimeout <= 0 || !pair) return;
  if (pair->idleTimer.active()) return;  // the second direction ending changes nothing
  pair->acceptStream->watchIdle();
  pair->connectStream->watchIdle();
  pair->idleTimer.start(seconds(halfCloseTimeout), [this, index] { checkIdle(index); });
}

// Bytes moved since the timer was set only push the bound back; a pair silent for the whole
// bound is cut.
void CTcpRepeater::checkIdle(int index) {
  CTcpStreamPair* pair = pairs.at(index);
  const auto moved = std::max(pair->acceptStream->lastMoved(), pair->connectStream->lastMoved());
  const auto idle = duration_cast<milliseconds>(CTcpSockStream::Clock::now() - moved);
  const milliseconds bound = seconds(halfCloseTimeout);
  if (idle < bound) {
    pair->idleTimer.start(bound - idle, [this, index] { checkIdle(index); });
    return;
  }
  trace("CTcpRepeater::halfCloseTimeout() index=%d, idle %ds\n", index, halfCloseTimeout);
  abortPair(index, nullptr, PairEnding::HalfCloseTimedOut, 0);
}
