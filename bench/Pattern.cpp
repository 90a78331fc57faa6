#include "Pattern.h"

#include <cstring>

namespace bench {

Pattern::Pattern() : bytes_(2 * kPeriod) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < kPeriod; ++i) {
    state ^= state >> 12;  // xorshift64*
    state ^= state << 25;
    state ^= state >> 27;
    bytes_[i] = static_cast<std::uint8_t>((state * 0x2545F4914F6CDD1Dull) >> 56);
  }
  std::memcpy(bytes_.data() + kPeriod, bytes_.data(), kPeriod);
}

const Pattern& Pattern::instance() {
  static const Pattern pattern;
  return pattern;
}

}  // namespace bench
