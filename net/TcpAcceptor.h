#pragma once
// The listening side of a repeater: takes the clients that arrive, several per wake-up in a
// burst, each with the outgoing socket made for it beforehand. Peers the filter does not serve,
// and connections that come back from the program's own outgoing sockets, are closed here.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/SocketAddress.h"
#include "net/TcpSockStream.h"

class CIpFilter;
class CTcpRepeaterListener;
class CTcpSockStreamParent;

namespace net {

class EventLoop;

class TcpAcceptor {
public:
  // A client taken and the outgoing stream made for it (family: of its socket, 0 for none).
  using Taken = std::function<void(std::unique_ptr<CTcpSockStream> accepted, std::unique_ptr<CTcpSockStream> outgoing,
                                   int family)>;

  // filter and listener: the repeater's own fields, read at every accept.
  TcpAcceptor(EventLoop& loop, CIpFilter* const& filter, CTcpRepeaterListener* const& listener);
  ~TcpAcceptor();
  TcpAcceptor(const TcpAcceptor&) = delete;
  TcpAcceptor& operator=(const TcpAcceptor&) = delete;

  // parent: told of the accept events. bindAddress: null for every local address.
  void listen(int port, const char* bindAddress, CTcpSockStreamParent* parent);
  void close();
  bool isListening() const { return listening_ && listenSocket_.handle() >= 0; }
  // The errno of the last listen() that failed (a port in use, one not permitted); 0 after one
  // that succeeded.
  int listenError() const { return listenError_; }
  bool name(std::string& address, int& port) const;
  // The outgoing sockets made ahead of their clients: this family, bound there unless null.
  void setOutgoing(int family, const char* bindAddress);
  // One accept event: takes up to a batch of clients (and at most `room`), each handed to taken.
  void acceptBatch(const Taken& taken, int room = kMaxAcceptBatch);
  // While held, clients wait in the listen queue: no accept event comes.
  void holdAccepting(bool hold);
  // The filter judges a client later, by the address its PROXY header carries, not at accept.
  void judgeLater(bool later) { judgeLater_ = later; }
  bool holding() const { return holding_; }
  // Every client waiting now, up to `limit`, each handed to taken (before the listener closes).
  void acceptWaiting(const Taken& taken, int limit);

private:
  static constexpr int kMaxAcceptBatch = 64;
  bool acceptOne(const Taken& taken);
  std::unique_ptr<CTcpSockStream> acceptPeer(int& err);
  void refuseAsOwn(const SocketAddress& peer);
  std::unique_ptr<CTcpSockStream> makeOutgoing(int& family);

  EventLoop& loop_;
  CIpFilter* const& filter_;
  CTcpRepeaterListener* const& listener_;
  CTcpSockStream listenSocket_;
  bool listening_ = false;
  int listenError_ = 0;
  int boundPort_ = 0;  // the listening socket's port, while it is registered as ours
  int outgoingFamily_ = AF_INET;
  std::string outgoingBind_;               // "" for none
  std::unique_ptr<CTcpSockStream> spare_;  // an outgoing socket made for a client that was not there
  int spareFamily_ = 0;
  bool holding_ = false;
  bool judgeLater_ = false;
  int batch_ = 1;                     // clients to take at the next accept event
  std::uint64_t fullBatchRound_ = 0;  // the loop round whose accept event took a whole batch
};

}  // namespace net
