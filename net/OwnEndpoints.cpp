#include "net/OwnEndpoints.h"

namespace net {

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

OwnEndpoint OwnEndpoints::add(const SocketAddress& local, int destinationPort) {
  std::string key = keyOf(local, destinationPort);
  if (key.empty()) return {};
  ++count_[key];
  return OwnEndpoint(*this, std::move(key));
}

OwnEndpoint& OwnEndpoint::operator=(OwnEndpoint&& other) noexcept {
  if (this != &other) {
    reset();
    registry_ = std::exchange(other.registry_, nullptr);
    key_ = std::move(other.key_);
  }
  return *this;
}

void OwnEndpoint::reset() {
  if (registry_) registry_->remove(key_);
  registry_ = nullptr;
}

void OwnEndpoints::remove(const std::string& key) { drop(count_, key); }

bool OwnEndpoints::contains(const SocketAddress& peer, int port) const {
  return !peer.empty() && !count_.empty() && count_.count(keyOf(peer, port)) != 0;
}

}  // namespace net
