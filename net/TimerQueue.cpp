#include "net/TimerQueue.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace net {

TimerQueue::TimerQueue(EventLoop& loop) : loop_(loop) {
  fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ < 0) return;
  token_ = loop_.add(fd_, this);
  loop_.setInterest(token_, EPOLLIN);
}

TimerQueue::~TimerQueue() {
  if (fd_ < 0) return;
  loop_.remove(token_);
  ::close(fd_);
}

TimerQueue::Id TimerQueue::schedule(Clock::time_point when, std::function<void()> callback) {
  const Id id = nextId_++;
  due_.emplace(std::make_pair(when, id), std::move(callback));
  whenOf_.emplace(id, when);
  rearm();
  return id;
}

void TimerQueue::cancel(Id id) {
  auto it = whenOf_.find(id);
  if (it == whenOf_.end()) return;
  due_.erase({it->second, id});
  whenOf_.erase(it);
  rearm();
}

// The kernel is told only when a deadline comes earlier than the one it holds. One that comes
// later, or a cancel, leaves it as it is: the wake-up that follows finds nothing due and arms the
// next. A connection starts and cancels timers all its life; this way they cost no system call.
void TimerQueue::rearm() {
  if (fd_ < 0 || due_.empty()) return;
  const Clock::time_point next = due_.begin()->first.first;
  if (armed_ && next >= armedFor_) return;
  armed_ = true;
  armedFor_ = next;
  itimerspec due{};
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch()).count();
  if (ns <= 0) ns = 1;  // zero would disarm
  due.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  due.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &due, nullptr);
}

void TimerQueue::onReady(std::uint32_t) {
  std::uint64_t expirations = 0;
  ssize_t n;
  while ((n = ::read(fd_, &expirations, sizeof expirations)) < 0 && errno == EINTR) {
  }
  if (n > 0) armed_ = false;  // a one-shot timerfd that fired holds nothing any more
  // Timers started by a callback wait for the next round, even when they are already due.
  const Id last = nextId_ - 1;
  const Clock::time_point now = Clock::now();
  for (;;) {
    auto it = due_.begin();
    while (it != due_.end() && it->first.second > last && it->first.first <= now) ++it;
    if (it == due_.end() || it->first.first > now) break;
    std::function<void()> callback = std::move(it->second);
    whenOf_.erase(it->first.second);
    due_.erase(it);
    callback();
  }
  rearm();
}

void Timer::start(std::chrono::milliseconds after, std::function<void()> callback) {
  cancel();
  auto& queue = EventLoop::current().timers();
  // The flag is cleared before the callback runs, since the callback may destroy this Timer.
  id_ = queue.schedule(TimerQueue::Clock::now() + after, [this, cb = std::move(callback)] {
    id_ = 0;
    cb();
  });
}

void Timer::cancel() {
  if (id_ == 0) return;
  EventLoop::current().timers().cancel(id_);
  id_ = 0;
}

}  // namespace net
