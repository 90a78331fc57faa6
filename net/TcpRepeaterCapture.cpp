// The repeater's part of a slot's capture: each pair's client leg as the client saw it. Its
// streams tell what they read and their peers' closes; the repeater tells the opening and the
// ends that no read shows.
#include "capture/CaptureStore.h"
#include "net/SocketAddress.h"
#include "net/TcpRepeater.h"

void CTcpRepeater::setCapture(CaptureStore* store) {
  if (store == capture_) return;
  for (int position = 0; CTcpStreamPair* pair = pairs.next(position);) {
    if (CaptureStore* old = pair->acceptStream->capture()) old->ended(pair->serial);
    pair->acceptStream->setCapture(nullptr, 0, Direction::up);
    pair->connectStream->setCapture(nullptr, 0, Direction::down);
  }
  capture_ = store;
}

void CTcpRepeater::captureOpened(CTcpStreamPair& pair) {
  CTcpSockStream& client = *pair.acceptStream;
  const net::SocketAddress peer = client.knownPeer(), local = net::SocketAddress::localOf(client.handle());
  const std::optional<Endpoint> from = Endpoint::fromSockaddr(peer.get()), to = Endpoint::fromSockaddr(local.get());
  if (!from || !to) return;
  capture_->opened(pair.serial, *from, *to);
  client.setCapture(capture_, pair.serial, Direction::up);
  pair.connectStream->setCapture(capture_, pair.serial, Direction::down);
}

void CTcpRepeater::captureReset(const CTcpStreamPair& pair, Direction direction) {
  if (CaptureStore* store = pair.acceptStream->capture()) store->reset(pair.serial, direction);
}

void CTcpRepeater::captureQueued(const CTcpStreamPair& pair) {
  CaptureStore* store = pair.acceptStream->capture();
  const std::span<const char> rest = pair.connectStream->queuedFront();  // all of it: nothing has been sent
  if (store && !rest.empty()) store->data(pair.serial, Direction::up, {rest.data(), rest.size()});
}

// What the client is sent at the end, unless a read showed it already: a reset when the pair is
// cut, else the relay's own close.
void CTcpRepeater::captureEnded(const CTcpStreamPair& pair, bool abortive) {
  CaptureStore* store = pair.acceptStream ? pair.acceptStream->capture() : nullptr;
  if (!store) return;
  if (abortive) {
    store->reset(pair.serial, Direction::down);
  } else {
    store->closed(pair.serial, Direction::down);
  }
  store->ended(pair.serial);
}
