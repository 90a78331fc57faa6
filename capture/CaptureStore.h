#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string_view>
#include <vector>

#include "capture/CaptureSink.h"
#include "capture/CapturedConnection.h"

// Limits of one slot's capture, in bytes.
struct CaptureLimits {
  std::uint64_t perDirection = 256 * 1024;    // CAPTUREKB
  std::uint64_t total = 16ull * 1024 * 1024;  // CAPTUREMB
  static CaptureLimits fromKeys(std::uint64_t kib, std::uint64_t mib) { return {kib * 1024, mib * 1024 * 1024}; }
};

// One slot's capture: what each connection carried, within the limits. When the slot holds
// more than its bound, the oldest connections go first, whole, so that what remains of each
// connection is its true beginning. A live connection dropped so goes on to the sink.
class CaptureStore {
public:
  explicit CaptureStore(CaptureLimits limits = {}) : limits_(limits) {}

  void setSink(CaptureSink* sink) { sink_ = sink; }  // not owned; null for none

  // A serial used again (a relay made afresh counts from 1) starts a new connection.
  void opened(std::uint64_t serial, const Endpoint& client, const Endpoint& listener,
              Transport transport = Transport::tcp);
  // TCP bytes or one whole UDP datagram.
  void data(std::uint64_t serial, Direction direction, std::string_view bytes);
  void closed(std::uint64_t serial, Direction direction);  // FIN from that side; once a side
  void reset(std::uint64_t serial, Direction direction);   // RST from that side
  // Nothing more of it will be captured: a UDP session's end, or a connection the relay stopped
  // capturing. A connection that has ended already stays as it is.
  void ended(std::uint64_t serial);

  // The connections held, oldest first.
  std::vector<const CapturedConnection*> connections() const;
  const CapturedConnection* find(std::uint64_t serial) const;
  // One connection's pieces in time order; empty when it is not held.
  const std::vector<Piece>& pieces(std::uint64_t serial) const;
  // The cost of everything held (CapturedConnection::cost), at most the total bound.
  std::uint64_t heldBytes() const { return held_; }
  static constexpr std::uint64_t kConnectionCost = sizeof(CapturedConnection) + 64;  // its map and order entries
  static constexpr std::uint64_t kPieceCost = sizeof(Piece);
  const CaptureLimits& limits() const { return limits_; }

private:
  CapturedConnection* live(std::uint64_t serial);
  static Piece make(const CapturedConnection& c, Piece::Kind kind, Direction direction);
  void record(CapturedConnection& c, Piece piece);
  void end(CapturedConnection& c);
  void forget(std::uint64_t serial);
  void dropOldestBut(std::uint64_t keep);
  void charge(CapturedConnection& c, std::uint64_t cost);  // then drops the oldest over the bound

  CaptureLimits limits_;
  CaptureSink* sink_ = nullptr;
  // Those held, and the live ones dropped for the bound (their tallies go on for the sink).
  std::map<std::uint64_t, CapturedConnection> bySerial_;
  std::deque<std::uint64_t> order_;  // serials of those held, by opening time
  std::uint64_t held_ = 0;
};
