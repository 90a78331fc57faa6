#include "net/OwnEndpoints.h"

namespace net {

OwnEndpoints& OwnEndpoints::current() {
  // Never destroyed, like the loop: a repeater owned by a static object may close pairs later.
  thread_local OwnEndpoints* endpoints = new OwnEndpoints();
  return *endpoints;
}

namespace {

// The destination's address is left out: a connect to a wildcard address arrives at a loopback
// one, so only its port can be compared.
std::string keyOf(const SocketAddress& local, int port) {
  return local.empty() ? std::string() : local.key() + '>' + std::to_string(port);
}

template <class Counts, class Key>
void drop(Counts& counts, const Key& key) {
  auto it = counts.find(key);
  if (it != counts.end() && --it->second <= 0) counts.erase(it);
}

}  // namespace

void OwnEndpoints::listening(int port) { ++listening_[port]; }
void OwnEndpoints::notListening(int port) { drop(listening_, port); }

std::string OwnEndpoints::add(const SocketAddress& local, int destinationPort) {
  std::string key = keyOf(local, destinationPort);
  if (!key.empty()) ++count_[key];
  return key;
}

void OwnEndpoints::remove(const std::string& key) { drop(count_, key); }

bool OwnEndpoints::contains(const SocketAddress& peer, int port) const {
  return !peer.empty() && !count_.empty() && count_.count(keyOf(peer, port)) != 0;
}

}  // namespace net
