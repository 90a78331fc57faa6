#pragma once
// One-shot deadlines for the readiness loop: any number of timers behind a single timerfd in the
// loop's epoll set, so a timer costs no descriptor (it still works when descriptors run out). A
// cancelled timer may still wake the loop once, at the time it was due, and then no more.
//
// Callbacks run from the loop's dispatch, earliest first. A callback may start or cancel timers,
// destroy the Timer that fired, or run a nested loop.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

#include "net/EventLoop.h"

namespace net {

class TimerQueue : private EventLoop::Watcher {
public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;  // never 0, never reused

  explicit TimerQueue(EventLoop& loop);
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  Id schedule(Clock::time_point when, std::function<void()> callback);
  void cancel(Id id);  // an id that has fired or was cancelled is ignored
  std::size_t pending() const { return due_.size(); }

private:
  void onReady(std::uint32_t revents) override;
  void rearm();

  EventLoop& loop_;
  int fd_ = -1;
  EventLoop::Token token_ = 0;
  Id nextId_ = 1;
  std::map<std::pair<Clock::time_point, Id>, std::function<void()>> due_;
  std::unordered_map<Id, Clock::time_point> whenOf_;
  bool armed_ = false;  // the timerfd is set for armedFor_ and has not fired yet
  Clock::time_point armedFor_{};
};

// A one-shot timer on the thread's loop, cancelled when it is destroyed or started again.
class Timer {
public:
  Timer() = default;
  ~Timer() { cancel(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void start(std::chrono::milliseconds after, std::function<void()> callback);
  void cancel();
  bool active() const { return id_ != 0; }

private:
  TimerQueue::Id id_ = 0;
};

}  // namespace net
