#pragma once
// The relay of one forwarding slot: listens on the slot's port and, for each connection the
// address filter serves, connects to the destination and joins the two streams into a pair.
// The acceptor takes the clients, a connector per pair makes the outgoing connection; the
// repeater keeps the table of pairs, the count of connected ones, and tears pairs down.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filter/IpFilter.h"
#include "net/Balancer.h"
#include "net/DestinationList.h"
#include "net/Faults.h"
#include "net/HealthCheck.h"
#include "net/PairTable.h"
#include "net/RelayOptions.h"
#include "net/TcpAcceptor.h"
#include "net/TcpConnector.h"
#include "net/TcpSockStream.h"
#include "net/TcpSockStreamParent.h"
#include "net/TcpStreamPair.h"
#include "net/TimerQueue.h"

// How a pair ended, as its one report says. A reset is ECONNRESET or EPIPE on that side; any
// other error of a connected side is a failure of that side.
enum class PairEnding {
  ClientClosed,
  DestinationClosed,
  ClientReset,
  DestinationReset,
  ClientFailed,
  DestinationFailed,
  ConnectFailed,      // the destination could not be reached (or not in time); `err` says why
  HalfCloseTimedOut,  // one direction had ended and nothing moved for the half-close bound
  IdleTimedOut,       // nothing moved either way for the idle timeout
  Stopped,            // the slot was switched off or the program closed
  ClosedByUser,       // one connection closed from the window, the others left as they are
};

// Told the number of fully connected pairs after every change (also when it stays the same).
// The others are told once per event, never per read or write; their default is to ignore.
class CTcpRepeaterListener {
public:
  virtual void notifyOnConnectionCount(int count) = 0;
  // The destination's connect succeeded: the pair's two streams are connected from now on.
  virtual void notifyOnPairOpen(const CTcpStreamPair& /*pair*/) {}
  // Just before the pair's streams are closed; `err` is the errno behind the ending, or 0.
  virtual void notifyOnPairEnd(const CTcpStreamPair& /*pair*/, PairEnding /*how*/, int /*err*/) {}
  // A peer the filter did not serve, already closed.
  virtual void notifyOnPeerRefused(const std::string& /*address*/, int /*port*/) {}
  // A connection that came from one of the program's own outgoing sockets, already closed.
  virtual void notifyOnLoopRefused(const std::string& /*address*/, int /*port*/) {}
  // One of several destinations ("host:port" as the settings name it) taken for down or up again.
  virtual void notifyOnDestinationState(const std::string& /*destination*/, bool /*up*/) {}

protected:
  ~CTcpRepeaterListener() = default;
};

class CTcpRepeater : public CTcpSockStreamParent, private net::TcpConnector::Owner {
public:
  CIpFilter* filter = nullptr;  // not owned; null serves everyone

  CTcpRepeater();
  ~CTcpRepeater() override;

  void setListener(CTcpRepeaterListener* listener);  // not owned
  void setBufferSize(int kb);
  void setListenBindAddress(int use, const std::string& address);
  void setConnectBindAddress(int use, const std::string& address);
  // Seconds; 0 leaves the connect to the system's own limit, or a half-closed pair unbounded.
  static constexpr int kDefaultConnectTimeout = 30;
  static constexpr int kDefaultHalfCloseTimeout = 600;
  void setConnectTimeout(int seconds);
  void setHalfCloseTimeout(int seconds);

  // The options for the pairs taken from now on (a changed balance starts the destinations' states
  // afresh; the live pairs keep their timers).
  void setOptions(const net::RelayOptions& options);
  // Faults on the pairs from now on and on the live ones (up on what goes to the destination,
  // down on what goes back to the client).
  void setFaults(const net::Faults& faults);
  const net::Faults& faults() const { return faults_; }
  // Captures the pairs taken from now on into `store` (not owned; null for none). The pairs it
  // captured until now stop, ended in their store, which must still be there.
  void setCapture(CaptureStore* store);
  const net::RelayOptions& options() const { return options_; }

  void start(int listenPort, const std::string& forwardHost, int forwardPort);
  // Several destinations, the first the slot's own; clients are spread over them as the options say.
  void start(int listenPort, const std::vector<net::HostPort>& destinations);
  void stop();

  // Live changes, each leaving the live pairs as they are (connected or still connecting, they
  // keep their destination and buffers):
  // Where the clients taken from now on are sent.
  void retarget(const std::string& forwardHost, int forwardPort);
  void retarget(const std::vector<net::HostPort>& destinations);
  // Each destination as "host:port" with its state; empty with a single destination.
  struct DestinationState {
    std::string name;
    bool up = true;
    int live = 0;  // pairs connecting to it or connected
  };
  std::vector<DestinationState> destinationStates() const;
  // Listens on `port` (at the bind address when `useBindAddress`, as setListenBindAddress takes
  // them) for the clients from now on; the repeater takes the new address only when it is open. The new
  // socket is opened before the old one closes; when both cannot be open at once (the same port
  // on an overlapping address) the old one closes first and comes back if the new one fails.
  // When the new one could not be opened the old one listens on, where it could.
  // Returns 0, or the errno of the new socket that could not be opened.
  int relisten(int port, int useBindAddress, const std::string& bindAddress);
  // Stops taking clients and leaves the live pairs to end on their own. The clients the system
  // has already queued are taken first, so none of them is reset.
  void stopListening();
  // Pairs in the table, connected or still connecting.
  int livePairs() const { return pairs.live(); }

  // Ends the live pair with this serial in order on both sides, reported as `how`; false when
  // there is none.
  bool closeBySerial(std::uint64_t serial, PairEnding how);
  // Walks the live pairs: start at 0, call until null (position then -1).
  CTcpStreamPair* getNextPair(int& position);
  bool isListening() const { return acceptor_->isListening(); }  // has a listening socket
  int listenError() const { return acceptor_->listenError(); }   // why the last start could not listen
  // The listening socket's own address and port; false when there is none.
  bool listenName(std::string& address, int& port) const;
  int pairTableSize() const { return pairs.size(); }  // free entries included
  // The last serial given, and a floor for the next: a slot keeps serials unique across the
  // relays it runs, as its capture holds connections by serial.
  std::uint64_t lastSerial() const { return nextSerial_; }
  void serialsAfter(std::uint64_t serial) { nextSerial_ = std::max(nextSerial_, serial); }

  void notifyOnAccept(int index, std::string kind) override;
  void notifyOnConnect(int index, std::string kind) override;
  void notifyOnClose(int index, std::string kind) override;
  void notifyOnError(int index, std::string kind, int err) override;
  void notifyOnHalfClose(int index, std::string kind) override;
  bool notifyOnArrival(int index, std::string kind) override;
  void notifyOnFault(int index, std::string kind, bool reset) override;

private:
  int addPair(CTcpStreamPair* pair);
  void closePair(int index, PairEnding how = PairEnding::Stopped);
  void updateConnectionCount();
  static constexpr int kConnectsPerRound = 16;
  void taken(std::unique_ptr<CTcpSockStream> accepted, std::unique_ptr<CTcpSockStream> outgoing, int family);
  void connectWaiting();
  void connectPair(int index);
  void connectDone(int index) override;
  void connectFailed(int index, int err) override;
  void connectTimedOut(int index) override;
  void abortPair(int index, CTcpSockStream* failed, PairEnding how, int err);
  void endPair(int index, bool abortive, CTcpSockStream* failed, PairEnding how, int err);
  void checkIdle(int index, int bound);
  void checkSilence(int index, int bound);
  // The destinations to change: a fresh copy when connectors still read the current ones.
  std::vector<net::Destination>& changeDestinations();
  void startConnector(CTcpStreamPair& pair, int index, int destination, int family, std::chrono::milliseconds timeLeft);
  // The pair's connect failed: the next destination, if one is left in its time. False when none.
  bool failOver(int index, int err);
  void destinationFailed(CTcpStreamPair& pair);
  void destinationEnded(CTcpStreamPair& pair);
  void rebuildBalancer();
  void destinationChanged(int destination, bool up);
  const net::Destination& destinationOf(const CTcpStreamPair& pair) const;
  // The pair's route when it belongs to the current destinations, else null.
  CTcpStreamPair::Route* routed(const CTcpStreamPair& pair) const;
  void holdIfFull();  // MAXCONN: no accepting while the pairs fill it
  void connectedOptions(CTcpStreamPair& pair, int index);
  bool queueProxyHeader(CTcpStreamPair& pair, const net::SocketAddress& source, const net::SocketAddress& destination);
  void awaitHeader(CTcpStreamPair& pair, int index);
  bool refuseCarried(int index);  // false: the pair is gone
  void connectorDone();           // one connector fewer: a pair connected or ended while connecting
  std::unique_ptr<net::TcpAcceptor> makeAcceptor() const;
  // The clients the listener's queue holds now, taken (up to a bound) before it closes.
  void takeQueued();
  static constexpr int kMaxQueuedTaken = 4096;

  CTcpRepeaterListener* listener = nullptr;
  net::PairTable pairs;    // the pairs are owned here
  int connectedPairs = 0;  // live pairs whose two streams are both STREAM_CONNECTED
  std::unique_ptr<net::TcpAcceptor> acceptor_;
  int listenPort = 0;
  // forwardHost, forwardPort and how to reach them, for the pairs taken from now on. Connectors
  // read theirs until they are done, so one replaced while any is under way is kept in
  // `retired_` until none is (`connectors_` counts them).
  std::shared_ptr<std::vector<net::Destination>> destinations_;
  std::vector<std::shared_ptr<std::vector<net::Destination>>> retired_;
  // With more than one destination: their states, started afresh (a new generation) whenever the
  // list or the balance changes; a pair tells only the generation it was sent by.
  std::unique_ptr<net::Balancer> balancer_;
  std::uint64_t balancerGeneration_ = 0;
  net::RelayOptions options_;
  net::Faults faults_;
  void applyFaults(CTcpStreamPair& pair) const;
  CaptureStore* capture_ = nullptr;
  void captureOpened(CTcpStreamPair& pair);
  void captureReset(const CTcpStreamPair& pair, Direction direction);
  void captureQueued(const CTcpStreamPair& pair);  // the client's bytes behind a PROXY header
  void captureEnded(const CTcpStreamPair& pair, bool abortive);
  std::unique_ptr<net::HealthCheck> health_;  // with several destinations and a check interval
  void probed(std::uint64_t generation, int destination, bool answered);
  int connectors_ = 0;
  int bufferSizeKB = CTcpSockStream::kDefaultBufferKB;
  int useListenBindAddress = 0;
  std::string listenBindAddress;
  int halfCloseTimeout = kDefaultHalfCloseTimeout;
  std::uint64_t nextSerial_ = 0;
  // Clients taken whose onward connect has not started: in a burst, clients are taken off the
  // kernel's queue faster than they are connected onward, since a client the full queue turns
  // away waits a second or more for its SYN to go again. (index, serial) of each, oldest first.
  std::deque<std::pair<int, std::uint64_t>> toConnect_;
  net::Timer connectLater_;  // the next round's connects, once no client is left to take
};
