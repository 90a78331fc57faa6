#pragma once
// A listening stream socket (TCP or local) in the thread's loop: each connection it accepts is
// handed over non-blocking and close-on-exec. When descriptors run out it stops accepting until
// the loop says some may be free again, rather than being woken for the same waiting client on
// every round.
#include <functional>

#include "net/EventLoop.h"

namespace service {

class Listener final : private net::EventLoop::Watcher {
public:
  // Takes the listening `fd`; `accepted` gets each new connection's fd to own.
  Listener(int fd, std::function<void(int fd)> accepted);
  ~Listener();  // closes the listening socket
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

private:
  void onReady(std::uint32_t revents) override;
  void onDescriptorsFreed() override;

  int fd_;
  net::EventLoop& loop_;
  net::EventLoop::Token token_ = 0;
  std::function<void(int fd)> accepted_;
};

// A stream socket made non-blocking and close-on-exec; -1 with errno on failure.
int streamSocket(int family);

}  // namespace service
