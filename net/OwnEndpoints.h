#pragma once
// The program's own outgoing connections (local end and destination port), across every repeater
// of the thread. A connection that arrives from one of those local ends at that port is the relay
// reaching itself: a slot whose destination leads back to a listening port of this program,
// directly or through another slot. The local end alone is not enough: on loopback a client's
// port may equal the local port of an outgoing connection to another destination.
#include <string>
#include <unordered_map>

#include "net/SocketAddress.h"

namespace net {

class OwnEndpoints {
public:
  static OwnEndpoints& current();

  // Returns the key to remove it with ("" if none).
  std::string add(const SocketAddress& local, const SocketAddress& destination);
  void remove(const std::string& key);
  // peer: the accepted connection's far end; at: its near end, the listening port it reached.
  bool contains(const SocketAddress& peer, const SocketAddress& at) const;
  std::size_t size() const { return count_.size(); }

private:
  std::unordered_map<std::string, int> count_;  // a local port may serve two destinations at once
};

}  // namespace net
