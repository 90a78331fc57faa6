#pragma once
// Keeps the event log on a descriptor moving without the loop ever waiting for it: the sink is
// flushed at the end of every round, and while lines wait for a slow reader the descriptor is
// watched for room in the same epoll wait as the sockets, so they go out as soon as it reads.
#include <cstdint>

#include "net/EventLoop.h"

namespace evlog {
class FdSink;
}

class CLogDrain final : private net::EventLoop::Watcher {
public:
  CLogDrain(net::EventLoop& eventLoop, evlog::FdSink& logSink);  // both not owned; outlive this
  ~CLogDrain();
  CLogDrain(const CLogDrain&) = delete;
  CLogDrain& operator=(const CLogDrain&) = delete;

private:
  void onReady(std::uint32_t revents) override;
  void flush();

  net::EventLoop& loop;
  evlog::FdSink& sink;
  net::EventLoop::Token token;
};
