#pragma once
// One relayed connection: the client's stream and the destination's, owned together.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "net/Balancer.h"
#include "net/OwnEndpoints.h"
#include "net/TcpConnector.h"
#include "net/TcpSockStream.h"
#include "net/TimerQueue.h"

struct CTcpStreamPair {
  std::unique_ptr<CTcpSockStream> acceptStream;
  std::unique_ptr<CTcpSockStream> connectStream;
  std::chrono::steady_clock::time_point started{};
  std::uint64_t serial = 0;                      // never reused by the repeater, unlike the table index
  std::unique_ptr<net::TcpConnector> connector;  // while the outgoing connect is under way
  net::OwnEndpoint ownEndpoint;                  // the outgoing socket's local end, once connected
  net::Timer idleTimer;                          // once one direction has ended
  const CTcpSockStream* endedFirst = nullptr;    // the side whose peer closed first, once one has
  std::string failure;                           // the resolver's reason when the destination's name had no address
  // With an idle timeout, once connected (with ACCEPTPROXY, the bound of the header before);
  // made only then, so a pair of a slot without either costs one pointer.
  std::unique_ptr<net::Timer> silenceTimer;
  // Of a slot with several destinations: the one it was sent to (an index of the repeater's list
  // of that generation), written "host:port" in `target`, and the ones it was sent to before.
  struct Route {
    int destination = 0;
    std::string target;
    net::Balancer::Tried tried;
    std::uint64_t generation = 0;
    bool countedLive = false;  // counted among the destination's live pairs
  };
  std::unique_ptr<Route> route;  // null with a single destination
  std::string target() const { return route ? route->target : std::string(); }

  void closeBoth();  // accept side first
  // A failure cut the pair (failed: the side that failed, or null for neither): the other side
  // is offered what is queued for it (offerQueued, which the repeater runs first so that the
  // pair's report counts those bytes) and then reset (abortBoth), so its peer cannot take the
  // end for a complete one.
  void offerQueued(CTcpSockStream* failed);
  void abortBoth(CTcpSockStream* failed);
};
