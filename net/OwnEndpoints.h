#pragma once
// The program's own outgoing connections (local end and destination port), across every repeater
// of the thread. A connection that arrives from one of those local ends at that port is the relay
// reaching itself: a slot whose destination leads back to a listening port of this program,
// directly or through another slot. The local end alone is not enough: on loopback a client's
// port may equal the local port of an outgoing connection to another destination.
//
// Only a connection to a port the thread listens on can come back, so only those are recorded:
// the others cost no lookup of their local end.
#include <string>
#include <unordered_map>

#include "net/SocketAddress.h"

namespace net {

class OwnEndpoints {
public:
  static OwnEndpoints& current();

  void listening(int port);
  void notListening(int port);
  bool mayComeBack(int destinationPort) const { return listening_.count(destinationPort) != 0; }

  // Returns the key to remove it with ("" if none).
  std::string add(const SocketAddress& local, int destinationPort);
  void remove(const std::string& key);
  // peer: the accepted connection's far end; port: the listening port it reached.
  bool contains(const SocketAddress& peer, int port) const;
  std::size_t size() const { return count_.size(); }

private:
  std::unordered_map<std::string, int> count_;  // a local port may serve two destinations at once
  std::unordered_map<int, int> listening_;      // two repeaters may listen on one port (two addresses)
};

}  // namespace net
