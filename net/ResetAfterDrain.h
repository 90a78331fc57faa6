#pragma once
// An abortive close that still delivers: the bytes a socket has already taken go out first, and
// the reset follows once the peer has acknowledged them, or after a bound (a peer that reads
// nothing must not hold the descriptor for long). A reset sent at once would throw away whatever
// the kernel had not yet transmitted.
#include <chrono>
#include <cstddef>

namespace net {

// Takes over fd (no longer registered with the loop).
void resetAfterDrain(int fd, std::chrono::milliseconds bound = std::chrono::seconds(2));
std::size_t socketsDraining();

}  // namespace net
