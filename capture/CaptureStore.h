#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string_view>
#include <vector>

#include "capture/CapturedConnection.h"

// Limits of one slot's capture, in bytes.
struct CaptureLimits {
  std::uint64_t perDirection = 256 * 1024;    // CAPTUREKB
  std::uint64_t total = 16ull * 1024 * 1024;  // CAPTUREMB
  static CaptureLimits fromKeys(std::uint64_t kib, std::uint64_t mib) { return {kib * 1024, mib * 1024 * 1024}; }
};

// One slot's capture: what each connection carried, within the limits. When the slot holds
// more than its bound, the oldest connections go first, whole, so that what remains of each
// connection is its true beginning.
class CaptureStore {
public:
  explicit CaptureStore(CaptureLimits limits = {}) : limits_(limits) {}

  void opened(std::uint64_t serial, const Endpoint& client, const Endpoint& listener,
              Transport transport = Transport::tcp);
  // TCP bytes or one whole UDP datagram.
  void data(std::uint64_t serial, Direction direction, std::string_view bytes);
  void closed(std::uint64_t serial, Direction direction);  // FIN from that side
  void reset(std::uint64_t serial, Direction direction);   // RST from that side

  // The connections held, oldest first.
  std::vector<const CapturedConnection*> connections() const;
  const CapturedConnection* find(std::uint64_t serial) const;
  // One connection's pieces in time order; empty when it is not held.
  const std::vector<Piece>& pieces(std::uint64_t serial) const;
  std::uint64_t heldBytes() const { return held_; }
  const CaptureLimits& limits() const { return limits_; }

private:
  CapturedConnection* live(std::uint64_t serial);
  Piece& append(CapturedConnection& c, Piece::Kind kind, Direction direction);
  void dropOldestBut(std::uint64_t keep);

  CaptureLimits limits_;
  std::map<std::uint64_t, CapturedConnection> bySerial_;
  std::deque<std::uint64_t> order_;  // serials by opening time
  std::uint64_t held_ = 0;
};
