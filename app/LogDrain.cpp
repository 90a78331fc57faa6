#include "app/LogDrain.h"

#include <sys/epoll.h>

#include "log/FdSink.h"

CLogDrain::CLogDrain(net::EventLoop& eventLoop, evlog::FdSink& logSink)
    : loop(eventLoop), sink(logSink), token(eventLoop.add(logSink.fd(), this)) {
  loop.setRoundEnd([this] { flush(); });
}

CLogDrain::~CLogDrain() {
  loop.setRoundEnd(nullptr);
  loop.remove(token);
}

void CLogDrain::onReady(std::uint32_t) { flush(); }

// Watched only while lines wait: an idle terminal or pipe is always writable, and would wake
// the loop on every round.
void CLogDrain::flush() {
  sink.flush();
  loop.setInterest(token, sink.pending() ? std::uint32_t{EPOLLOUT} : 0u);
}
