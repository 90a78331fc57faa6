#include "net/OwnEndpoints.h"

namespace net {

OwnEndpoints& OwnEndpoints::current() {
  thread_local OwnEndpoints endpoints;
  return endpoints;
}

std::string OwnEndpoints::add(const SocketAddress& local) {
  std::string key = local.key();
  if (!key.empty()) ++count_[key];
  return key;
}

void OwnEndpoints::remove(const std::string& key) {
  auto it = count_.find(key);
  if (it != count_.end() && --it->second <= 0) count_.erase(it);
}

bool OwnEndpoints::contains(const SocketAddress& peer) const {
  return !peer.empty() && count_.count(peer.key()) != 0;
}

}  // namespace net
