#pragma once
// Host-name lookup that never blocks the thread: c-ares, with its sockets in the loop's epoll set
// and its deadlines on a loop timer. Lookups of a name that is already being looked up wait for
// that query's answer instead of starting another. Answers hold IPv4 and IPv6 addresses in the
// order to try them (c-ares sorts them by the local routes).
//
// Literal addresses need no lookup: callers check SocketAddress::parse first.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/SocketAddress.h"
#include "net/TimerQueue.h"

struct ares_channeldata;
struct ares_addrinfo;

namespace net {

class Resolver {
public:
  using Addresses = std::vector<SocketAddress>;  // ports 0
  // err 0 with at least one address; EINVAL when the name has no address or the lookup failed.
  // Never called from inside lookup().
  using Callback = std::function<void(int err, const Addresses& addresses)>;

  // The caller's interest in an answer; dropping it before the answer cancels the callback.
  // Ids are the resolver's own, so the request goes back to the resolver that made it.
  class Request {
  public:
    Request() = default;
    Request(Request&& other) noexcept : owner_(other.owner_), id_(other.id_) { other.id_ = 0; }
    Request& operator=(Request&& other) noexcept;
    ~Request() { cancel(); }
    void cancel();
    bool pending() const;

  private:
    friend class Resolver;
    Request(Resolver* owner, std::uint64_t id) : owner_(owner), id_(id) {}
    Resolver* owner_ = nullptr;  // not owned; outlives its requests
    std::uint64_t id_ = 0;
  };

  explicit Resolver(EventLoop& loop);
  ~Resolver();
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  Request lookup(const std::string& host, Callback callback);
  // "host:port,host:port" (c-ares' server list form); "" returns to the system's servers.
  bool setServers(const std::string& servers);
  std::size_t queriesInFlight() const { return queries_.size(); }
  // Inside a callback with an error: the resolver's own words for why the name has no address
  // ("Domain name not found"), which EINVAL alone does not say.
  const std::string& failure() const { return failure_; }

private:
  struct Waiter {
    std::uint64_t id;
    Callback callback;
  };
  class SocketWatch;
  friend class SocketWatch;

  static void onSocketState(void* data, int fd, int readable, int writable);
  static void onAnswer(void* arg, int status, int timeouts, ::ares_addrinfo* result);
  void answer(const std::string& host, int err, const Addresses& addresses, const std::string& reason);
  void process(int readFd, int writeFd);
  void updateTimer();
  void forget(std::uint64_t id);
  bool waiting(std::uint64_t id) const { return hostOf_.count(id) != 0; }

  EventLoop& loop_;
  ::ares_channeldata* channel_ = nullptr;
  std::string systemServers_;
  std::uint64_t nextId_ = 1;
  bool starting_ = false;  // inside ares_getaddrinfo: an answer now must wait for the loop
  std::unordered_map<std::string, std::vector<Waiter>> queries_;  // by host name
  std::unordered_map<std::uint64_t, std::string> hostOf_;
  std::unordered_map<int, std::unique_ptr<SocketWatch>> sockets_;
  Timer timer_;
  std::string failure_;  // of the answer being handed out
};

}  // namespace net
