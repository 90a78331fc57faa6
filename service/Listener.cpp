#include "service/Listener.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace service {

namespace {
// A few accepts per wake-up, so a burst of clients cannot keep the loop here.
constexpr int kAcceptsPerRound = 16;
}  // namespace

Listener::Listener(int fd, std::function<void(int fd)> accepted)
    : fd_(fd), loop_(net::EventLoop::current()), accepted_(std::move(accepted)) {
  token_ = loop_.add(fd_, this);
  loop_.setInterest(token_, EPOLLIN);
}

Listener::~Listener() {
  loop_.removeClosing(token_);
  loop_.closeLater(fd_);
}

void Listener::onReady(std::uint32_t) {
  for (int i = 0; i < kAcceptsPerRound; ++i) {
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client >= 0) {
      accepted_(client);
      continue;
    }
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      loop_.setInterest(token_, 0);
      loop_.waitForDescriptors(token_);
    }
    return;  // EAGAIN, or a client that left before it was taken: nothing more to do now
  }
}

void Listener::onDescriptorsFreed() { loop_.setInterest(token_, EPOLLIN); }

int streamSocket(int family) { return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

}  // namespace service
