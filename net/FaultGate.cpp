#include "net/FaultGate.h"

#include <algorithm>
#include <limits>

namespace net {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

namespace {
// A cap lets this much go at once, so that it is not a string of tiny sends.
constexpr milliseconds kBandwidthBurst{10};  // also what a late wake may catch up
}  // namespace

FaultGate::FaultGate(const FaultSet& set, std::function<void()> wake, std::function<void(Cut)> cut)
    : set_(set), wake_(std::move(wake)), cut_(std::move(cut)), random_(std::random_device{}()) {
  if (set_.resetPercent > 0 && static_cast<int>(random_() % 100) < set_.resetPercent) {
    cutTimer_.start(milliseconds(0), [this] {
      auto ending = cut_;
      ending(Cut::Reset);
    });
  } else if (set_.timeoutMs > 0) {
    cutTimer_.start(milliseconds(set_.timeoutMs), [this] {
      auto ending = cut_;
      ending(Cut::Close);
    });
  }
}

void FaultGate::arrived(std::uint32_t n, Clock::time_point now) {
  arrivedTotal_ += n;
  if (set_.latencyMs == 0 && set_.jitterMs == 0) return;
  int delay = set_.latencyMs;
  if (set_.jitterMs > 0) delay += static_cast<int>(random_() % (2u * set_.jitterMs + 1)) - set_.jitterMs;
  Clock::time_point release = now + milliseconds(std::max(delay, 0));
  if (!marks_.empty()) release = std::max(release, marks_.back().release);  // bytes keep their order
  // Past the bound the newest read joins the one before, which then waits as long as it does.
  if (marks_.size() >= kMaxMarks) marks_.pop_back();
  marks_.push_back({arrivedTotal_, release});
}

std::uint64_t FaultGate::latencyReleased(Clock::time_point now, Clock::time_point& next) {
  if (set_.latencyMs == 0 && set_.jitterMs == 0) return arrivedTotal_;
  while (!marks_.empty() && marks_.front().end <= sentTotal_) marks_.pop_front();
  std::uint64_t released = sentTotal_;
  for (const Mark& m : marks_) {
    if (m.release > now) {
      next = std::max(next, m.release);
      break;
    }
    released = m.end;
  }
  return released;
}

std::uint32_t FaultGate::allowance(std::uint32_t queued, Clock::time_point now) {
  if (set_.timeoutMs >= 0 || cutTimer_.active()) return 0;  // stopped; the cut timer ends it
  Clock::time_point next = now;
  std::uint64_t may = std::min<std::uint64_t>(queued, latencyReleased(now, next) - sentTotal_);
  for (std::uint64_t bound : {set_.limitBytes, set_.resetBytes})
    if (bound) may = std::min(may, bound - std::min(bound, sentTotal_));
  if (set_.bandwidthKiBs > 0) {
    const double perNs = set_.bandwidthKiBs * 1024.0 / 1e9;
    const Clock::time_point paid = std::max(bandwidthClock_, now - kBandwidthBurst);
    const auto credit = static_cast<std::uint64_t>(static_cast<double>((now - paid).count()) * perNs);
    if (credit == 0) next = std::max(next, paid + nanoseconds(static_cast<long long>(1024 / perNs)));
    may = std::min(may, credit);
  }
  if (set_.sliceBytes > 0) {
    if (nextSlice_ > now) next = std::max(next, nextSlice_), may = 0;
    may = std::min<std::uint64_t>(may, static_cast<std::uint64_t>(set_.sliceBytes));
  }
  if (may == 0 && next > now) wakeAt(next);
  return static_cast<std::uint32_t>(may);
}

bool FaultGate::sent(std::uint32_t n, Clock::time_point now) {
  sentTotal_ += n;
  if (set_.bandwidthKiBs > 0) {
    const double nsPerByte = 1e9 / (set_.bandwidthKiBs * 1024.0);
    bandwidthClock_ = std::max(bandwidthClock_, now - kBandwidthBurst) +
                      nanoseconds(static_cast<long long>(n * nsPerByte));
  }
  if (set_.sliceBytes > 0) nextSlice_ = now + milliseconds(set_.sliceDelayMs);
  return (set_.limitBytes && sentTotal_ >= set_.limitBytes) || (set_.resetBytes && sentTotal_ >= set_.resetBytes);
}

bool FaultGate::holdsClose(std::function<void()> then) {
  if (set_.slowCloseMs <= 0) return false;
  if (!closeHeld_) closeHeld_ = true, closeTimer_.start(milliseconds(set_.slowCloseMs), std::move(then));
  return closeTimer_.active();
}

void FaultGate::wakeAt(Clock::time_point when) {
  if (wakeTimer_.active()) return;
  const auto after = duration_cast<milliseconds>(when - Clock::now()) + milliseconds(1);
  wakeTimer_.start(std::max(after, milliseconds(0)), [this] {
    auto wake = wake_;
    wake();
  });
}

}  // namespace net
