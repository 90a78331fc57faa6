#pragma once
// What a slot may set beyond its destination: the choice among several destinations, the PROXY
// header, and the limits on its pairs. Every one is off by default, and then a pair behaves as
// it always has.
#include <chrono>

#include "net/Balancer.h"

class CAsyncSocket;

namespace net {

struct RelayOptions {
  BalanceMode balance = BalanceMode::Failover;
  int retryDown = static_cast<int>(Balancer::kDefaultRetryDown.count());  // seconds a failed one is down
  int checkInterval = 0;  // seconds between health probes of each destination; 0 none
  int sendProxy = 0;      // the PROXY header version sent ahead of the client's bytes; 0 none
  bool acceptProxy = false;
  int idleTimeout = 0;  // seconds with no byte either way, then the pair is closed; 0 none
  int keepAlive = 0;    // seconds of silence before keepalive probes on both sockets; 0 off
  int maxConn = 0;      // pairs at once; the rest wait in the listen queue; 0 no limit
  bool operator==(const RelayOptions&) const = default;
};

// Keepalive probes after `seconds` of silence, then every `seconds`, a peer silent for
// kKeepAliveProbes of them taken for dead. False when the system refused an option.
inline constexpr int kKeepAliveProbes = 3;
bool setKeepAlive(CAsyncSocket& socket, int seconds);

}  // namespace net
