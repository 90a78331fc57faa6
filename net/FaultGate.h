#pragma once
// The faults of one direction at work on one stream: it decides how many of the bytes queued for
// the stream's peer may be sent now, and when to ask again. Bytes it holds back stay in the
// stream's own send queue, so the queue's bound is the gate's bound too: once it is full the
// partner stops reading, as with a slow peer. A stream without faults has no gate.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>

#include "net/Faults.h"
#include "net/TimerQueue.h"

namespace net {

class FaultGate {
public:
  using Clock = std::chrono::steady_clock;
  enum class Cut { Close, Reset };
  // wake: bytes held may go now; cut: the pair is to end. Both run from the loop's timers, and
  // either may destroy the gate.
  FaultGate(const FaultSet& set, std::function<void()> wake, std::function<void(Cut)> cut);

  const FaultSet& set() const { return set_; }
  void arrived(std::uint32_t n, Clock::time_point now);
  // How many of the `queued` bytes may be sent now; with 0, the wake is armed for when more may.
  std::uint32_t allowance(std::uint32_t queued, Clock::time_point now);
  // n bytes were sent; true when that reached the limit or the reset: the caller ends the pair.
  bool sent(std::uint32_t n, Clock::time_point now);
  void wakeSoon() { wakeAt(Clock::now()); }
  // Whether the end of input is still held back; the first ask starts the slow close, after
  // which `then` runs (and may destroy the gate).
  bool holdsClose(std::function<void()> then);
  Cut cutKind() const { return set_.resetBytes && sentTotal_ >= set_.resetBytes ? Cut::Reset : Cut::Close; }

private:
  void wakeAt(Clock::time_point when);
  std::uint64_t latencyReleased(Clock::time_point now, Clock::time_point& next);

  FaultSet set_;
  std::function<void()> wake_;
  std::function<void(Cut)> cut_;
  Timer wakeTimer_;
  Timer cutTimer_;  // timeout, or the reset drawn at the start
  Timer closeTimer_;
  bool closeHeld_ = false;
  // Latency: the end (in bytes arrived so far) of each read and when it may go; few, since a
  // read takes whatever the kernel holds.
  struct Mark {
    std::uint64_t end;
    Clock::time_point release;
  };
  static constexpr std::size_t kMaxMarks = 4096;
  std::deque<Mark> marks_;
  std::uint64_t arrivedTotal_ = 0;
  std::uint64_t sentTotal_ = 0;
  Clock::time_point bandwidthClock_{};  // when the bytes sent so far have been paid for
  Clock::time_point nextSlice_{};
  std::minstd_rand random_;
};

}  // namespace net
