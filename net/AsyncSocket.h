#pragma once
// Non-blocking TCP socket (IPv4, or IPv6 where asked for) whose readiness arrives as On* calls from the thread's EventLoop.
//
// How the events map onto a level-triggered epoll set:
//  - OnAccept: a listening socket has a connection waiting.
//  - OnConnect(err): a connect that answered would-block has finished; err is its SO_ERROR.
//  - OnReceive: bytes (or the peer's orderly close, seen as a zero-byte Receive) are waiting.
//    It comes again while they wait; deselect FD_READ to stop asking.
//  - OnSend: once after the socket is first connected (completed connect, accept) and once each
//    time a socket that refused bytes (Send would block) can take more; never otherwise.
//  - OnOutOfBandData: once per urgent mark; the layer takes the urgent byte off the socket
//    afterwards so the mark is not reported again (it is never part of the in-band bytes).
//  - OnClose(err): the connection failed or was reset (err from SO_ERROR).
// A socket closed during a round gets no later call, and a handler may destroy its own object.
// Failures return false (or -1) with the errno value in GetLastError(); a connect in progress
// counts as EWOULDBLOCK.
#include <cstdint>
#include <string>
#include <sys/socket.h>

#include "net/EventLoop.h"
#include "net/SocketAddress.h"

// Ignores SIGPIPE, raises the open-file soft limit to the hard limit and creates the loop.
bool socketInit();
// The errors of a socket or accept call that mean descriptors (or kernel memory) ran out.
bool isDescriptorShortage(int err);

class CAsyncSocket : private net::EventLoop::Watcher {
public:
  enum : long { FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32, FD_ALL = 63 };

  CAsyncSocket();
  virtual ~CAsyncSocket();
  CAsyncSocket(const CAsyncSocket&) = delete;
  CAsyncSocket& operator=(const CAsyncSocket&) = delete;

  // Socket() then Bind(): port 0 is any port, no address is every local address.
  bool Create(int port = 0, int type = SOCK_STREAM, long events = FD_ALL, const char* address = nullptr);
  // The two halves of Create, for options that must be set before the bind.
  bool Socket(int type = SOCK_STREAM, long events = FD_ALL, int family = AF_INET);
  // address: a literal of the socket's family (dotted IPv4, or IPv6 such as "::1" or "::").
  bool Bind(int port, const char* address = nullptr);
  bool Listen(int backlog = SOMAXCONN);
  bool SetSockOpt(int option, const void* value, int length, int level = SOL_SOCKET);
  bool AsyncSelect(long events);
  // A literal IPv4 or IPv6 address only: names are looked up by net::Resolver, off the thread's
  // critical path, and connected with ConnectTo. A connect that cannot even start for want of a
  // local port fails (EADDRNOTAVAIL); only one in progress counts as EWOULDBLOCK.
  bool Connect(const char* host, int port);
  bool ConnectTo(const net::SocketAddress& remote);
  bool ShutDown(int how);

  virtual bool Accept(CAsyncSocket& target);  // target takes this socket's event selection
  // Stops accepting until descriptors may be free again, as a failed Accept does when they have
  // run out: for a caller that found no descriptor for what it needs besides the accepted one.
  void pauseAccepting();
  virtual void Close();
  int Detach();  // gives up the socket without closing it: the caller owns the fd
  virtual int Receive(void* buffer, int length, int flags = 0);
  virtual int Send(const void* buffer, int length, int flags = 0);

  // Addresses as text: dotted IPv4, or IPv6 in full ("::ffff:a.b.c.d" for an IPv4 peer of a
  // dual-stack socket).
  bool GetPeerName(std::string& address, int& port) const;
  bool GetSockName(std::string& address, int& port) const;
  // The peer as accept or connect gave it, without asking the system; empty when neither did.
  net::SocketAddress knownPeer() const { return peerKnown_ ? peer_ : net::SocketAddress{}; }

  int handle() const { return m_hSocket; }
  long selectedEvents() const { return events_; }
  static int GetLastError();

  // Event handlers; each does nothing unless overridden.
  virtual void OnReceive(int nErrorCode);
  virtual void OnSend(int nErrorCode);
  virtual void OnOutOfBandData(int nErrorCode);
  virtual void OnAccept(int nErrorCode);
  virtual void OnConnect(int nErrorCode);
  virtual void OnClose(int nErrorCode);

private:
  enum class Phase { Idle, Listening, Connecting, Connected, Failed };

  void onReady(std::uint32_t revents) override;
  void onPosted() override;
  void onDescriptorsFreed() override;
  void readyConnecting(std::uint32_t revents);
  bool readyConnected(std::uint32_t revents);  // false when the object may be gone
  void attach(int fd, long events, Phase phase);
  void updateInterest();
  void discardUrgentByte();
  void oweFirstSend();
  int takeSocketError() const;

  int m_hSocket = -1;
  net::EventLoop::Token token_ = 0;
  long events_ = 0;
  Phase phase_ = Phase::Idle;
  bool writeArmed_ = false;     // an OnSend is owed when epoll reports the socket writable
  bool writePosted_ = false;    // an OnSend is owed at the end of this round: known writable
  bool acceptStarved_ = false;  // accept hit the descriptor limit; waiting for a free one
  // The peer's address as accept or connect gave it, so it need not be asked for again.
  net::SocketAddress peer_;
  bool peerKnown_ = false;
};
