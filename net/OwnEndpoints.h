#pragma once
// The local ends of the program's own outgoing connections, across every repeater of the thread.
// A connection that arrives from one of them is the relay reaching itself: a slot whose
// destination leads back to a listening port of this program, directly or through another slot.
#include <string>
#include <unordered_map>

#include "net/SocketAddress.h"

namespace net {

class OwnEndpoints {
public:
  static OwnEndpoints& current();

  std::string add(const SocketAddress& local);  // returns the key to remove it with ("" if none)
  void remove(const std::string& key);
  bool contains(const SocketAddress& peer) const;
  std::size_t size() const { return count_.size(); }

private:
  std::unordered_map<std::string, int> count_;  // a local port may serve two destinations at once
};

}  // namespace net
