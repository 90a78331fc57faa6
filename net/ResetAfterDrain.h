#pragma once
// An abortive close that still delivers: the bytes a socket has already taken go out first, and
// the reset follows once the peer has acknowledged them, or after a bound (a peer that reads
// nothing must not hold the descriptor for long). A reset sent at once would throw away whatever
// the kernel had not yet transmitted.
#include <chrono>
#include <cstddef>
#include <vector>

#include "net/TimerQueue.h"

namespace net {

class EventLoop;

// The sockets of one loop that wait for their reset (the loop owns it).
class DrainingSockets {
public:
  explicit DrainingSockets(EventLoop& loop) : loop_(loop) {}
  ~DrainingSockets();
  DrainingSockets(const DrainingSockets&) = delete;
  DrainingSockets& operator=(const DrainingSockets&) = delete;

  // Takes over fd (no longer registered with the loop).
  void resetAfterDrain(int fd, std::chrono::milliseconds bound = std::chrono::seconds(2));
  std::size_t size() const { return held_.size(); }

private:
  using Clock = std::chrono::steady_clock;
  struct Held {
    int fd;
    Clock::time_point deadline;
  };
  void check();
  void resetNow(int fd);

  EventLoop& loop_;
  std::vector<Held> held_;
  Timer timer_;
};

}  // namespace net
