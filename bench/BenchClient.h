#pragma once
// The near end of every measurement: blocking sockets on 127.0.0.1, each call
// bounded by socket timeouts and each loop by a count and a deadline.
#include <chrono>
#include <cstdint>
#include <string>

namespace bench {

struct BulkResult {
  bool ok = false;  // the whole stream arrived and matched the pattern
  double seconds = 0;
  std::uint64_t bytes = 0;
  std::string error;
  double mibPerSecond() const { return ok && seconds > 0 ? bytes / seconds / (1024.0 * 1024.0) : 0; }
};

struct LatencyResult {
  bool ok = false;
  int roundTrips = 0;
  double p50us = 0, p99us = 0, p999us = 0, maxUs = 0;
  std::string error;
};

struct RateResult {
  int done = 0;  // connections that completed their echo
  int failed = 0;
  double seconds = 0;
  double perSecond() const { return seconds > 0 ? done / seconds : 0; }
};

struct IdleResult {
  bool ok = false;
  int pairs = 0;
  long rssBeforeKiB = 0;  // no pair open
  long rssQuietKiB = 0;   // every pair connected end to end, no byte sent yet
  long rssEchoedKiB = 0;  // the same pairs after a 1-byte echo each, idle again
  long rssBulkKiB = 0;    // the same pairs after a 1 MiB echo each, idle again
  std::string error;
  double perPair(long rss) const { return pairs > 0 ? double(rss - rssBeforeKiB) / pairs : 0; }
};

class BenchServer;

// Blocking socket to 127.0.0.1:port, TCP_NODELAY; every later call on it gives up after 10 s.
// -1 on failure, with the reason in *error when given.
int connectTo(int port, std::string* error);
bool sendAll(int fd, const void* data, std::size_t len);
bool recvExact(int fd, void* data, std::size_t len);  // false when the peer closed first

// Client -> server: `bytes` pattern bytes, timed until the sink's verdict arrives.
BulkResult bulkUpload(int port, std::uint64_t bytes, std::chrono::seconds limit);
// Server -> client: `bytes` pattern bytes, each checked as it arrives.
BulkResult bulkDownload(int port, std::uint64_t bytes, std::chrono::seconds limit);
// 1-byte ping-pong through the echo service after `warmup` untimed round trips.
LatencyResult latency(int port, int roundTrips, int warmup, std::chrono::seconds limit);
// connect, 1-byte echo, close; `clients` threads share `total` connections.
RateResult connectRate(int port, int clients, int total, std::chrono::seconds limit);
// Opens `pairs` connections and reads the target's VmRSS before, once every
// pair has reached the server (the server's count tells), after each pair has
// carried a 1-byte echo, and after each has carried a 1 MiB echo, idle again
// every time. Best run on a fresh target: memory pooled by earlier connections
// would hide what new ones cost.
IdleResult idleMemory(int port, int pid, int pairs, const BenchServer& server, std::chrono::seconds limit);

}  // namespace bench
