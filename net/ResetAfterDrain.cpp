#include "net/ResetAfterDrain.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "net/EventLoop.h"
#include "net/TimerQueue.h"

namespace net {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kCheckEvery{10};

struct Held {
  int fd;
  Clock::time_point deadline;
};

struct Draining {
  std::vector<Held> held;
  Timer timer;
};

Draining& draining() {
  thread_local Draining d;
  return d;
}

bool drained(int fd) {
  int unacked = 0;
  return ::ioctl(fd, SIOCOUTQ, &unacked) != 0 || unacked == 0;
}

void resetNow(int fd) {
  linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
  EventLoop::current().descriptorFreed();
}

void check() {
  auto& d = draining();
  const auto now = Clock::now();
  std::erase_if(d.held, [now](const Held& h) {
    if (now < h.deadline && !drained(h.fd)) return false;
    resetNow(h.fd);
    return true;
  });
  if (!d.held.empty()) d.timer.start(kCheckEvery, check);
}

}  // namespace

void resetAfterDrain(int fd, std::chrono::milliseconds bound) {
  if (fd < 0) return;
  if (drained(fd)) return resetNow(fd);
  auto& d = draining();
  ::shutdown(fd, SHUT_RD);  // nothing more is read from it
  d.held.push_back({fd, Clock::now() + bound});
  if (!d.timer.active()) d.timer.start(kCheckEvery, check);
}

std::size_t socketsDraining() { return draining().held.size(); }

}  // namespace net
