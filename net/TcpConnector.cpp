#include "net/TcpConnector.h"

#include <cerrno>

#include "net/EventLoop.h"
#include "net/TcpSockStream.h"
#include "net/Trace.h"

namespace net {

TcpConnector::TcpConnector(Owner& owner, EventLoop& loop, const Destination& to, CTcpSockStream& outgoing, int index,
                           int socketFamily)
    : owner_(owner), loop_(loop), to_(to), outgoing_(outgoing), index_(index), socketFamily_(socketFamily) {}

void TcpConnector::start(std::chrono::milliseconds timeLeft) {
  if (timeLeft.count() >= 0) timer_.start(timeLeft, [this] { owner_.connectTimedOut(index_); });
  else if (to_.connectTimeout > 0)
    timer_.start(std::chrono::seconds(to_.connectTimeout), [this] { owner_.connectTimedOut(index_); });
  if (!to_.literal.empty()) {
    addresses_ = {to_.literal};
    connectNext();
    return;
  }
  trace("CTcpRepeater::notifyOnAccept()-Resolve() host=%s\n", to_.forwardHost.c_str());
  lookup_ = loop_.resolver().lookup(
      to_.forwardHost, [this](int err, const std::vector<SocketAddress>& found) { onResolved(err, found); });
}

void TcpConnector::onResolved(int err, const std::vector<SocketAddress>& found) {
  if (err != 0) {
    failure_ = loop_.resolver().failure();
    return owner_.connectFailed(index_, err);
  }
  addresses_ = found;
  for (SocketAddress& a : addresses_) a.setPort(to_.forwardPort);
  nextAddress_ = 0;
  connectNext();
}

// A fresh socket of the family for the next attempt, unless the pair still holds an unused one.
bool TcpConnector::openFor(int family) {
  const bool reuse = socketFamily_ == family && outgoing_.handle() >= 0;
  socketFamily_ = 0;
  if (reuse) return true;
  outgoing_.Close();
  if (!outgoing_.Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, family)) return false;
  return !to_.useConnectBindAddress || outgoing_.Bind(0, to_.connectBindAddress.c_str());
}

void TcpConnector::connectNext() {
  int err = EINVAL;
  while (nextAddress_ < addresses_.size()) {
    const SocketAddress& address = addresses_[nextAddress_++];
    ownEndpoint_.reset();
    if (!openFor(address.family())) {
      err = CAsyncSocket::GetLastError();
    } else {
      const bool atOnce = outgoing_.ConnectTo(address);
      err = atOnce ? 0 : CAsyncSocket::GetLastError();
      if (atOnce || err == EWOULDBLOCK) {
        OwnEndpoints& own = loop_.ownEndpoints();
        if (own.mayComeBack(address.port()))
          ownEndpoint_ = own.add(SocketAddress::localOf(outgoing_.handle()), address.port());
        if (!atOnce) {
          trace("CTcpRepeater::notifyOnAccept()-Connect() WSAEWOULDBLOCK  host=%s, port=%d \n", to_.forwardHost.c_str(),
                to_.forwardPort);
          return;
        }
        trace("CTcpRepeater::notifyOnAccept()-Connect() OK host=%s, port=%d \n", to_.forwardHost.c_str(),
              to_.forwardPort);
        return owner_.connectDone(index_);
      }
    }
    if (nextAddress_ < addresses_.size())
      trace("CTcpRepeater::connectNext() address=%s err=%d, trying the next\n", address.text().c_str(), err);
  }
  owner_.connectFailed(index_, err);
}

bool TcpConnector::retry(int err) {
  if (nextAddress_ >= addresses_.size()) return false;
  trace("CTcpRepeater::connectNext() address=%s err=%d, trying the next\n", addresses_[nextAddress_ - 1].text().c_str(),
        err);
  connectNext();
  return true;
}

void TcpConnector::giveUp() {
  lookup_.cancel();
  addresses_.clear();
}

}  // namespace net
