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
#include <vector>

#include "net/EventLoop.h"

namespace net {

class TimerQueue final : private EventLoop::Watcher {
public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;  // never 0, never reused

  explicit TimerQueue(EventLoop& loop);
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  Id schedule(Clock::time_point when, std::function<void()> callback);
  void cancel(Id id);  // an id that has fired or was cancelled is ignored

private:
  // Every connection starts and cancels timers, so neither allocates once the queue has grown:
  // a timer lives in a reused slot, and a cancel only frees the slot. Its entry in the heap stays
  // until it comes to the top (or the heap is rebuilt) and is then recognised as stale.
  struct Slot {
    std::function<void()> callback;
    Id id = 0;  // 0: free
  };
  struct Due {
    Clock::time_point when;
    Id id;
    bool operator>(const Due& o) const { return when != o.when ? when > o.when : id > o.id; }
  };
  void onReady(std::uint32_t revents) override;
  Slot* live(Id id);
  void dropStale();
  void rearm();

  EventLoop& loop_;
  int fd_ = -1;
  EventLoop::Token token_ = 0;
  Id nextId_ = 1;
  std::vector<Slot> slots_;
  std::vector<std::uint32_t> freeSlots_;
  std::vector<Due> heap_;  // a min-heap on (when, id)
  bool armed_ = false;     // the timerfd is set for armedFor_ and has not fired yet
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
  std::function<void()> callback_;
};

}  // namespace net
