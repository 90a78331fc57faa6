#pragma once
// The deterministic byte stream that the bulk measurements send and check.
// Both ends can produce it from any stream offset, so the receiver compares
// every byte it gets against what the sender must have sent.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

class Pattern {
public:
  // A prime period never lines up with buffer or segment sizes, so a relay
  // that drops, repeats or reorders a block cannot land on identical bytes.
  static constexpr std::size_t kPeriod = 1048573;

  static const Pattern& instance();

  // Bytes of the stream from `offset` on; at least kPeriod of them are contiguous.
  const std::uint8_t* at(std::uint64_t offset) const { return bytes_.data() + offset % kPeriod; }

private:
  Pattern();
  std::vector<std::uint8_t> bytes_;  // two periods back to back
};

}  // namespace bench
