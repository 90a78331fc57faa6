#pragma once
// One client of a UDP relay: the client's address, the socket connected to the destination on
// its behalf, and what has moved each way. The relay owns its sessions and decides when they end;
// a session only does the socket calls of its outgoing side.
#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "net/EventLoop.h"
#include "net/OwnEndpoints.h"
#include "net/Resolver.h"
#include "net/SocketAddress.h"

// Datagrams and their payload bytes in one direction.
struct UdpFlow {
  std::uint64_t datagrams = 0;
  std::uint64_t bytes = 0;
  void add(std::size_t n) { ++datagrams, bytes += n; }
};

class CUdpSession final : private net::EventLoop::Watcher {
public:
  using Clock = std::chrono::steady_clock;

  // Told when the outgoing socket has a datagram or an error to read; may end the session.
  class Owner {
  public:
    virtual void sessionReadable(CUdpSession& session) = 0;

  protected:
    ~Owner() = default;
  };

  // Datagrams held while the destination's name is looked up; more are dropped.
  static constexpr std::size_t kMaxHeld = 8;

  CUdpSession(Owner& owner, net::EventLoop& loop, const net::SocketAddress& client, std::uint64_t serial);
  ~CUdpSession();
  CUdpSession(const CUdpSession&) = delete;
  CUdpSession& operator=(const CUdpSession&) = delete;

  const net::SocketAddress& client() const { return client_; }
  const std::string& clientKey() const { return clientKey_; }
  // The destination's address once the socket is connected; empty before.
  const net::SocketAddress& destination() const { return destination_; }
  net::SocketAddress local() const;                 // the outgoing socket's own end; empty before the connect
  std::uint64_t serial() const { return serial_; }  // never reused by the relay
  bool connected() const { return !destination_.empty(); }

  // Opens the outgoing socket and connects it to the first address that takes it (ports set);
  // bindAddress: null for the system's choice. 0, or the errno of the last attempt.
  int connect(const std::vector<net::SocketAddress>& addresses, const char* bindAddress);
  int send(const char* data, std::size_t n);  // 0 or the errno; never blocks
  // The datagram's length, or -1 with err set (EAGAIN: nothing more to read now).
  long receive(char* buffer, std::size_t capacity, int& err);
  bool hold(const char* data, std::size_t n);  // false when the hold is full
  std::deque<std::string> takeHeld();
  std::size_t heldBytes() const { return heldBytes_; }

  UdpFlow toDestination;
  UdpFlow toClient;
  std::uint64_t dropped = 0;  // datagrams of this session lost to a full buffer or hold
  bool captured = false;      // its datagrams go to the relay's capture
  Clock::time_point started{};
  Clock::time_point lastActive{};  // the last datagram either way
  std::string failure;             // the resolver's reason when the destination's name had no address
  net::Resolver::Request lookup;   // while the destination's name is looked up
  net::OwnEndpoint ownEndpoint;    // the outgoing socket's local end, while registered
  // The session's place in its relay's order of activity (the relay's own bookkeeping).
  std::list<std::unique_ptr<CUdpSession>>::iterator order;

private:
  void onReady(std::uint32_t revents) override;
  void close();

  Owner& owner_;
  net::EventLoop& loop_;
  const net::SocketAddress client_;
  const std::string clientKey_;
  const std::uint64_t serial_;
  net::SocketAddress destination_;
  int fd_ = -1;
  net::EventLoop::Token token_ = 0;
  std::deque<std::string> held_;
  std::size_t heldBytes_ = 0;
};
