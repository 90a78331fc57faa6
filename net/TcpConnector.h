#pragma once
// The outgoing connect of one pair: the destination's name looked up off the loop, its addresses
// tried in order until one answers, the whole bounded by the connect timeout. Made when the
// pair's connect starts and dropped once it has connected or failed.
#include <chrono>
#include <string>
#include <vector>

#include "net/OwnEndpoints.h"
#include "net/Resolver.h"
#include "net/SocketAddress.h"
#include "net/TimerQueue.h"

class CTcpSockStream;

namespace net {

class EventLoop;

// Where a repeater's pairs connect to; shared by its connectors.
struct Destination {
  std::string forwardHost;
  int forwardPort = 0;
  SocketAddress literal;  // empty when forwardHost is a name to look up
  int useConnectBindAddress = 0;
  std::string connectBindAddress;
  int connectTimeout = 0;  // seconds; 0 leaves it to the system's own limit
};

class TcpConnector {
public:
  // Told the outcome, by the pair's index; each call may destroy the connector.
  class Owner {
  public:
    virtual void connectDone(int index) = 0;
    virtual void connectFailed(int index, int err) = 0;
    virtual void connectTimedOut(int index) = 0;

  protected:
    ~Owner() = default;
  };

  // outgoing: the pair's connect stream; socketFamily: of its fresh socket (0: none yet).
  TcpConnector(Owner& owner, EventLoop& loop, const Destination& to, CTcpSockStream& outgoing, int index,
               int socketFamily);
  TcpConnector(const TcpConnector&) = delete;
  TcpConnector& operator=(const TcpConnector&) = delete;

  // timeLeft: the bound of this connect when it is the client's second or later destination (what
  // is left of its connect timeout); negative: the destination's own connect timeout.
  void start(std::chrono::milliseconds timeLeft = std::chrono::milliseconds(-1));
  // A connect that failed later: the next address, if one is left. False when none is.
  bool retry(int err);
  void giveUp();  // no answer or address is wanted any more
  // Why the name has no address, in the resolver's words; empty unless the lookup failed.
  const std::string& failure() const { return failure_; }
  // The outgoing socket's registration as the program's own, for the connected pair to keep.
  OwnEndpoint takeEndpoint() { return std::move(ownEndpoint_); }

private:
  void onResolved(int err, const std::vector<SocketAddress>& found);
  void connectNext();
  bool openFor(int family);

  Owner& owner_;
  EventLoop& loop_;
  const Destination& to_;
  CTcpSockStream& outgoing_;  // not owned
  const int index_;
  Resolver::Request lookup_;
  std::vector<SocketAddress> addresses_;
  std::size_t nextAddress_ = 0;
  int socketFamily_;  // of a fresh outgoing socket that no connect has used yet
  Timer timer_;
  OwnEndpoint ownEndpoint_;  // the outgoing socket's local end, while it is registered
  std::string failure_;
};

}  // namespace net
