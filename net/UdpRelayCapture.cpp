// The UDP relay's part of a slot's capture: each session as the client saw it, its datagrams
// between the client and the address its replies leave from.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "capture/CaptureStore.h"
#include "net/UdpRelay.h"

namespace {

// The listening socket's own address, or where it listens on every address, the one the system
// picks to reach the client: a reply leaves from that one.
std::optional<Endpoint> replySource(int listenFd, const net::SocketAddress& client) {
  const net::SocketAddress local = net::SocketAddress::localOf(listenFd);
  std::optional<Endpoint> at = Endpoint::fromSockaddr(local.get());
  if (!at || std::any_of(at->address.begin(), at->address.end(), [](std::uint8_t b) { return b != 0; })) return at;
  const int probe = ::socket(client.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return at;
  if (::connect(probe, client.get(), client.length) == 0)
    if (std::optional<Endpoint> routed = Endpoint::fromSockaddr(net::SocketAddress::localOf(probe).get()))
      at->address = routed->address, at->v6 = routed->v6;
  ::close(probe);
  return at;
}

}  // namespace

void CUdpRelay::setCapture(CaptureStore* store) {
  if (store == capture_) return;
  for (const auto& s : sessions_) {
    if (s->captured) capture_->ended(s->serial());
    s->captured = false;
  }
  capture_ = store;
}

void CUdpRelay::captureOpened(CUdpSession& session) {
  const std::optional<Endpoint> client = Endpoint::fromSockaddr(session.client().get());
  const std::optional<Endpoint> listener = replySource(listenFd_, session.client());
  if (!client || !listener) return;
  capture_->opened(session.serial(), *client, *listener, Transport::udp);
  session.captured = true;
}
