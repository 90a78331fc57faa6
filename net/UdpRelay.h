#pragma once
// The relay of one UDP forwarding slot: listens on the slot's port and gives each client address
// a session, a socket connected to the destination for that client alone. Datagrams go both ways
// as they came; replies leave from the listening socket, so the client sees the address it
// sent to. Nothing here waits: a datagram that finds a buffer full is dropped and counted, as
// the kernel itself would.
//
// Sessions are kept in order of their last datagram, so the one silent the longest is always at
// the front: it is the next to time out and the one a client beyond the bound replaces. One
// loop timer stands for the front's deadline.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "filter/IpFilter.h"
#include "net/EventLoop.h"
#include "net/SocketAddress.h"
#include "net/TimerQueue.h"
#include "net/UdpSession.h"

// How a session ended, as its one report says. `err` comes with the two destination endings.
enum class UdpSessionEnding {
  IdleTimedOut,        // no datagram either way for the idle timeout
  Evicted,             // a new client took its place at the session bound
  DestinationRefused,  // the destination answered with an ICMP error (ECONNREFUSED)
  DestinationFailed,   // the name had no address, no socket could be connected, or a send failed
  Stopped,             // the slot was switched off or the program closed
  ClosedByUser,        // one session closed from the window, the others left as they are
};

// What a relay has done since it was made; never reset by stop().
struct UdpTotals {
  std::uint64_t sessions = 0;  // started
  UdpFlow toDestination;       // datagrams sent on to the destination
  UdpFlow toClient;            // replies sent back to the clients
  std::uint64_t refused = 0;   // datagrams from sources the filter refused, or from the relay itself
  std::uint64_t dropped = 0;   // datagrams lost to a full buffer or a full hold
  std::uint64_t failed = 0;    // sessions ended by the destination (the two destination endings)
};

// Told the number of live sessions after every change; the others once per event, never per
// datagram that moved. A callback may call stop() on the relay, never destroy it.
class CUdpRelayListener {
public:
  virtual void notifyOnSessionCount(int count) = 0;
  virtual void notifyOnSessionStart(const CUdpSession& /*session*/) {}
  // Just before the session's socket is closed; `err` is the errno behind the ending, or 0.
  virtual void notifyOnSessionEnd(const CUdpSession& /*session*/, UdpSessionEnding /*how*/, int /*err*/) {}
  // A datagram from a source the filter did not serve, already dropped.
  virtual void notifyOnDatagramRefused(const std::string& /*address*/, int /*port*/) {}
  // A datagram from one of the program's own session sockets (a destination that leads back to
  // a UDP port of this program), already dropped: serving it would feed the relay to itself.
  virtual void notifyOnLoopRefused(const std::string& /*address*/, int /*port*/) {}

protected:
  ~CUdpRelayListener() = default;
};

class CaptureStore;

class CUdpRelay final : private net::EventLoop::Watcher, private CUdpSession::Owner {
public:
  CIpFilter* filter = nullptr;  // not owned; null serves everyone

  static constexpr int kDefaultIdleTimeout = 60;  // seconds
  static constexpr int kDefaultMaxSessions = 1000;
  static constexpr std::size_t kMaxDatagram = 65507;  // the largest UDP payload over IPv4

  CUdpRelay();
  ~CUdpRelay();  // closes everything without reports
  CUdpRelay(const CUdpRelay&) = delete;
  CUdpRelay& operator=(const CUdpRelay&) = delete;

  void setListener(CUdpRelayListener* listener) { listener_ = listener; }  // not owned
  void setListenBindAddress(int use, const std::string& address);
  void setConnectBindAddress(int use, const std::string& address);
  void setIdleTimeout(int seconds);  // below 1: the default
  // Below 1: the default. A lower bound ends no session at once: the next new client makes room.
  void setMaxSessions(int count);

  void start(int listenPort, const std::string& forwardHost, int forwardPort);
  void stop();  // ends every session (reported as Stopped) and closes the listening socket
  bool isListening() const { return listenFd_ >= 0; }
  int listenError() const { return listenError_; }  // why the last start could not listen
  bool listenName(std::string& address, int& port) const;

  int sessionCount() const { return static_cast<int>(sessions_.size()); }
  // The live sessions, the one silent the longest first. visit must not stop the relay.
  void forEachSession(const std::function<void(const CUdpSession&)>& visit) const;
  const UdpTotals& totals() const { return totals_; }
  // Ends the live session with this serial, reported as `how`; false when there is none.
  bool closeBySerial(std::uint64_t serial, UdpSessionEnding how);
  // The last serial given, and a floor for the next (as CTcpRepeater's).
  std::uint64_t lastSerial() const { return nextSerial_; }
  void serialsAfter(std::uint64_t serial) { nextSerial_ = std::max(nextSerial_, serial); }
  // Captures the sessions started from now on into `store` (not owned; null for none), each
  // datagram whole as it is read. The sessions it captured until now stop, ended in their store.
  void setCapture(CaptureStore* store);

private:
  using Order = std::list<std::unique_ptr<CUdpSession>>;
  static constexpr int kDatagramsPerWake = 64;       // per socket, so one busy client cannot hold the loop
  static constexpr std::size_t kBufferSize = 65536;  // any datagram IPv4 or IPv6 can carry
  // All sessions' held datagrams together: a burst of new clients while a slow name is looked
  // up (their sources may be forged) must not hold the bound's worth of full datagrams.
  static constexpr std::size_t kMaxHeldBytes = 1 << 20;

  void onReady(std::uint32_t revents) override;
  void sessionReadable(CUdpSession& session) override;
  bool openListening(int port);
  void closeListening();
  void fromClient(const net::SocketAddress& from, const char* data, std::size_t n);
  CUdpSession* startSession(const net::SocketAddress& from);
  void connectSession(CUdpSession& session, std::vector<net::SocketAddress> addresses);
  void resolved(CUdpSession& session, int err, const std::vector<net::SocketAddress>& found);
  bool forward(CUdpSession& session, const char* data, std::size_t n);
  void reply(CUdpSession& session, const char* data, std::size_t n);
  void touch(CUdpSession& session);
  void drop(CUdpSession& session);
  void endSession(CUdpSession& session, UdpSessionEnding how, int err, bool tellCount = true);
  void expire();
  void armExpiry();
  void tellCount();
  bool alive(const std::string& key, std::uint64_t serial) const;
  void captureOpened(CUdpSession& session);

  net::EventLoop& loop_;
  CUdpRelayListener* listener_ = nullptr;
  int listenFd_ = -1;
  net::EventLoop::Token listenToken_ = 0;
  int listenError_ = 0;
  int boundPort_ = 0;  // the listening socket's port, while it is registered as ours
  int useListenBindAddress_ = 0;
  std::string listenBindAddress_;
  int useConnectBindAddress_ = 0;
  std::string connectBindAddress_;
  std::string forwardHost_;
  int forwardPort_ = 0;
  net::SocketAddress literal_;  // empty when forwardHost_ is a name to look up
  int idleTimeout_ = kDefaultIdleTimeout;
  std::size_t maxSessions_ = kDefaultMaxSessions;
  Order sessions_;  // owned; the one silent the longest first
  std::unordered_map<std::string, CUdpSession*> byClient_;
  std::uint64_t nextSerial_ = 0;
  std::size_t heldBytes_ = 0;  // in all sessions' holds
  net::Timer expiry_;          // the front session's deadline
  bool stopping_ = false;
  UdpTotals totals_;
  std::unique_ptr<char[]> buffer_;  // one datagram, either way
  CaptureStore* capture_ = nullptr;
};
