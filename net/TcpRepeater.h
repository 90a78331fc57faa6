#pragma once
// The relay of one forwarding slot: listens on the slot's port and, for each connection the
// address filter serves, connects to the destination and joins the two streams into a pair.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "filter/IpFilter.h"
#include "net/Resolver.h"
#include "net/SocketAddress.h"
#include "net/PairTable.h"
#include "net/TcpSockStream.h"
#include "net/TcpSockStreamParent.h"
#include "net/TimerQueue.h"

struct CTcpStreamPair;

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
  Stopped,            // the slot was switched off or the program closed
};

// Told the number of fully connected pairs after every change (also when it stays the same).
// The other two are told once per event, never per read or write; their default is to ignore.
class CTcpRepeaterListener {
public:
  virtual void notifyOnConnectionCount(int count) = 0;
  // Just before the pair's streams are closed; `err` is the errno behind the ending, or 0.
  virtual void notifyOnPairEnd(const CTcpStreamPair& /*pair*/, PairEnding /*how*/, int /*err*/) {}
  // A peer the filter did not serve, already closed.
  virtual void notifyOnPeerRefused(const std::string& /*address*/, int /*port*/) {}
  // A connection that came from one of the program's own outgoing sockets, already closed.
  virtual void notifyOnLoopRefused(const std::string& /*address*/, int /*port*/) {}

protected:
  ~CTcpRepeaterListener() = default;
};

struct CTcpStreamPair {
  CTcpSockStream* acceptStream = nullptr;   // owned
  CTcpSockStream* connectStream = nullptr;  // owned
  std::chrono::steady_clock::time_point started{};
  std::uint64_t serial = 0;  // never reused by the repeater, unlike the table index
  void closeBoth();  // accept side first
  // A failure cut the pair (failed: the side that failed, or null for neither): the other side
  // is offered what is queued for it (offerQueued, which the repeater runs first so that the
  // pair's report counts those bytes) and then reset (abortBoth), so its peer cannot take the
  // end for a complete one.
  void offerQueued(CTcpSockStream* failed);
  void abortBoth(CTcpSockStream* failed);

  // While the outgoing connect is under way: the name's lookup, the addresses left to try.
  net::Resolver::Request lookup;
  std::vector<net::SocketAddress> addresses;
  std::size_t nextAddress = 0;
  int socketFamily = 0;       // of a fresh outgoing socket that no connect has used yet
  net::Timer connectTimer;
  net::Timer idleTimer;       // once one direction has ended
  std::string ownEndpoint;    // the outgoing socket's local end, while it is registered
};

class CTcpRepeater : public CTcpSockStreamParent {
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

  void start(int listenPort, const std::string& forwardHost, int forwardPort);
  void stop();
  // Walks the live pairs: start at 0, call until null (position then -1).
  CTcpStreamPair* getNextPair(int& position);
  bool isListening() const;  // has a listening socket
  // The listening socket's own address and port; false when there is none.
  bool listenName(std::string& address, int& port) const;
  int pairTableSize() const { return pairs.size(); }  // free entries included

  void notifyOnAccept(int index, std::string kind) override;
  void notifyOnConnect(int index, std::string kind) override;
  void notifyOnClose(int index, std::string kind) override;
  void notifyOnError(int index, std::string kind, int err) override;
  void notifyOnHalfClose(int index, std::string kind) override;

private:
  int addPair(CTcpStreamPair* pair);
  void closePair(int index, PairEnding how = PairEnding::Stopped);
  void updateConnectionCount();
  static constexpr int kMaxAcceptBatch = 64;
  static constexpr int kConnectsPerRound = 16;
  bool acceptOne();
  void connectWaiting();
  CTcpSockStream* acceptPeer(int& err);
  bool refusedAsOwn(CTcpSockStream* stream, const net::SocketAddress& peer);
  void closeListener();
  CTcpSockStream* makeOutgoing(int& family);
  void abortPair(int index, CTcpSockStream* failed, PairEnding how, int err);
  void endPair(int index, bool abortive, CTcpSockStream* failed, PairEnding how, int err);
  // The outgoing connect (TcpRepeaterConnect.cpp).
  void connectPair(int index);
  void onResolved(int index, int err, const std::vector<net::SocketAddress>& found);
  void connectNext(int index);
  bool retryConnect(int index, int err);
  void connected(CTcpStreamPair* pair);
  void connectFailed(int index, int err);
  void connectTimedOut(int index);
  void checkIdle(int index);

  CTcpRepeaterListener* listener = nullptr;
  net::PairTable pairs;  // the pairs are owned here
  int connectedPairs = 0;  // live pairs whose two streams are both STREAM_CONNECTED
  CTcpSockStream listenSocket;
  int listenPort = 0;
  std::string forwardHost;
  int forwardPort = 0;
  net::SocketAddress forwardLiteral_;  // empty when forwardHost is a name to look up
  int bufferSizeKB = CTcpSockStream::kDefaultBufferKB;
  int useListenBindAddress = 0;
  std::string listenBindAddress;
  int useConnectBindAddress = 0;
  std::string connectBindAddress;
  int connectTimeout = kDefaultConnectTimeout;
  int halfCloseTimeout = kDefaultHalfCloseTimeout;
  bool listening_ = false;
  int boundPort_ = 0;                 // the listening socket's port, while it is registered as ours
  CTcpSockStream* spare_ = nullptr;   // an outgoing socket made for a client that was not there
  int spareFamily_ = 0;
  int acceptBatch_ = 1;                 // clients to take at the next accept event
  std::uint64_t fullBatchRound_ = 0;    // the loop round whose accept event took a whole batch
  std::uint64_t nextSerial_ = 0;
  // Clients taken whose onward connect has not started: in a burst, clients are taken off the
  // kernel's queue faster than they are connected onward, since a client the full queue turns
  // away waits a second or more for its SYN to go again. (index, serial) of each, oldest first.
  std::deque<std::pair<int, std::uint64_t>> toConnect_;
  net::Timer connectLater_;  // the next round's connects, once no client is left to take
};
