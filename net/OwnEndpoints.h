#pragma once
// The program's own outgoing connections (local end and destination port), across every repeater
// of a loop (the loop owns it). A connection that arrives from one of those local ends at that port is the relay
// reaching itself: a slot whose destination leads back to a listening port of this program,
// directly or through another slot. The local end alone is not enough: on loopback a client's
// port may equal the local port of an outgoing connection to another destination.
//
// Only a connection to a port the thread listens on can come back, so only those are recorded:
// the others cost no lookup of their local end.
#include <string>
#include <unordered_map>
#include <utility>

#include "net/SocketAddress.h"

namespace net {

class OwnEndpoints;

// One outgoing connection's entry, removed when dropped.
class OwnEndpoint {
public:
  OwnEndpoint() = default;
  OwnEndpoint(OwnEndpoints& registry, std::string key) : registry_(&registry), key_(std::move(key)) {}
  OwnEndpoint(OwnEndpoint&& other) noexcept { *this = std::move(other); }
  OwnEndpoint& operator=(OwnEndpoint&& other) noexcept;
  ~OwnEndpoint() { reset(); }
  void reset();

private:
  OwnEndpoints* registry_ = nullptr;  // not owned
  std::string key_;
};

class OwnEndpoints {
public:
  void listening(int port);
  void notListening(int port);
  bool mayComeBack(int destinationPort) const { return listening_.count(destinationPort) != 0; }

  OwnEndpoint add(const SocketAddress& local, int destinationPort);
  // peer: the accepted connection's far end; port: the listening port it reached.
  bool contains(const SocketAddress& peer, int port) const;
  std::size_t size() const { return count_.size(); }

private:
  friend class OwnEndpoint;
  void remove(const std::string& key);

  std::unordered_map<std::string, int> count_;  // a local port may serve two destinations at once
  std::unordered_map<int, int> listening_;      // two repeaters may listen on one port (two addresses)
};

}  // namespace net
