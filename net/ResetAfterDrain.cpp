#include "net/ResetAfterDrain.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/EventLoop.h"

namespace net {
namespace {

constexpr std::chrono::milliseconds kCheckEvery{10};

bool drained(int fd) {
  int unacked = 0;
  return ::ioctl(fd, SIOCOUTQ, &unacked) != 0 || unacked == 0;
}

}  // namespace

DrainingSockets::~DrainingSockets() {
  for (const Held& h : held_) ::close(h.fd);
}

void DrainingSockets::resetNow(int fd) {
  linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
  loop_.descriptorFreed();
}

void DrainingSockets::check() {
  const auto now = Clock::now();
  std::erase_if(held_, [this, now](const Held& h) {
    if (now < h.deadline && !drained(h.fd)) return false;
    resetNow(h.fd);
    return true;
  });
  if (!held_.empty()) timer_.start(kCheckEvery, [this] { check(); });
}

void DrainingSockets::resetAfterDrain(int fd, std::chrono::milliseconds bound) {
  if (fd < 0) return;
  if (drained(fd)) return resetNow(fd);
  ::shutdown(fd, SHUT_RD);  // nothing more is read from it
  held_.push_back({fd, Clock::now() + bound});
  if (!timer_.active()) timer_.start(kCheckEvery, [this] { check(); });
}

}  // namespace net
