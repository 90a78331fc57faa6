// The repeater's part of the PROXY header: the one it sends ahead of a client's bytes, and the
// one it reads from each client first when the slot sits behind a balancer. While a client's
// header is read its bytes wait in the outgoing stream's queue, and the connect waits for it.
#include <cerrno>
#include <string>

#include "net/ProxyHeader.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"

using namespace std::chrono;

// In front of what is queued already (bytes a client sent after its own header); false when
// both do not fit the queue.
bool CTcpRepeater::queueProxyHeader(CTcpStreamPair& pair, const net::SocketAddress& source,
                                    const net::SocketAddress& destination) {
  CTcpSockStream& out = *pair.connectStream;
  const std::string header = net::encodeProxyHeader(options_.sendProxy, source, destination);
  std::string rest;
  for (int parts = 0; parts < 2 && out.sRemainCount > 0; ++parts) {  // a ring holds at most two parts
    const std::span<const char> part = out.queuedFront();
    rest.append(part.data(), part.size());
    out.dropQueued(static_cast<uint32_t>(part.size()));
  }
  if (header.size() + rest.size() > out.getFreeSendSpace()) return false;
  out.appendToSendBuffer(header.data(), static_cast<uint32_t>(header.size()));
  out.appendToSendBuffer(rest.data(), static_cast<uint32_t>(rest.size()));
  return true;
}

// Bounded by the connect timeout (the default where that is the system's own), so a client that
// never sends its header cannot hold a pair.
void CTcpRepeater::awaitHeader(CTcpStreamPair& pair, int index) {
  pair.acceptStream->reportArrivals = true;
  const int bound = destinations_->front().connectTimeout > 0 ? destinations_->front().connectTimeout
                                                              : kDefaultConnectTimeout;
  pair.silenceTimer = std::make_unique<net::Timer>();
  pair.silenceTimer->start(seconds(bound), [this, index] {
    trace("CTcpRepeater::proxyHeader() index=%d, no header in time\n", index);
    CTcpStreamPair* late = pairs.at(index);
    abortPair(index, late->acceptStream.get(), PairEnding::ClientFailed, ETIMEDOUT);
  });
}

bool CTcpRepeater::notifyOnArrival(int index, std::string) {
  CTcpStreamPair* pair = pairs.at(index);
  if (!pair || !pair->acceptStream->reportArrivals) return true;
  CTcpSockStream& client = *pair->acceptStream;
  const net::ProxyHeaderRead read = net::readProxyHeader(pair->connectStream->queuedFront());
  if (read.status == net::ProxyHeaderRead::NeedMore) return true;
  if (read.status == net::ProxyHeaderRead::Invalid) {
    trace("CTcpRepeater::proxyHeader() index=%d, not a PROXY header\n", index);
    abortPair(index, &client, PairEnding::ClientFailed, EPROTO);
    return false;
  }
  client.reportArrivals = false;
  pair->silenceTimer.reset();
  pair->connectStream->dropQueued(static_cast<uint32_t>(read.length));
  client.receivedBytes -= read.length;  // the balancer's bytes, not the client's
  captureQueued(*pair);
  net::SocketAddress source = client.knownPeer(), destination = net::SocketAddress::localOf(client.handle());
  if (read.carriesAddress()) {
    source = read.source, destination = read.destination;
    client.peerAddress = source.text();
    client.peerPort = source.port();
  }
  trace("CTcpRepeater::proxyHeader() index=%d v%d PeerAddress=%s, port=%d\n", index, read.version,
        client.peerAddress.c_str(), client.peerPort);
  if (filter && !filter->isAccept(client.peerAddress)) return refuseCarried(index);
  if (options_.sendProxy > 0 && !queueProxyHeader(*pair, source, destination)) {
    abortPair(index, nullptr, PairEnding::ClientFailed, ENOBUFS);
    return false;
  }
  toConnect_.emplace_back(index, pair->serial);
  // Not from here: a connect that fails at once would end the pair under the reporting stream.
  connectLater_.start(milliseconds(0), [this] { connectWaiting(); });
  return true;
}

// As a peer the filter refuses at accept: closed, told as refused, no connection logged.
bool CTcpRepeater::refuseCarried(int index) {
  CTcpStreamPair* pair = pairs.release(index);
  const std::string address = pair->acceptStream->peerAddress;
  const int port = pair->acceptStream->peerPort;
  trace("★★接続を拒否★★ PeerAddress=%s, port=%d\n", address.c_str(), port);
  destinationEnded(*pair);
  captureEnded(*pair, false);
  pair->closeBoth();
  delete pair;
  connectorDone();
  holdIfFull();
  if (listener) listener->notifyOnPeerRefused(address, port);
  updateConnectionCount();
  return false;
}
