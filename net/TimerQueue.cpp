#include "net/TimerQueue.h"

#include <algorithm>
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

// An id names its slot in the low 32 bits; the rest count up, so an id is never used twice.
namespace {
constexpr int kSlotBits = 32;
std::uint32_t slotOf(TimerQueue::Id id) { return static_cast<std::uint32_t>(id); }
}  // namespace

TimerQueue::Id TimerQueue::schedule(Clock::time_point when, std::function<void()> callback) {
  std::uint32_t slot;
  if (freeSlots_.empty()) {
    slot = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  } else {
    slot = freeSlots_.back();
    freeSlots_.pop_back();
  }
  const Id id = (nextId_++ << kSlotBits) | slot;
  slots_[slot] = Slot{std::move(callback), id};
  heap_.push_back({when, id});
  std::push_heap(heap_.begin(), heap_.end(), std::greater<>{});
  rearm();
  return id;
}

TimerQueue::Slot* TimerQueue::live(Id id) {
  const std::uint32_t slot = slotOf(id);
  return id != 0 && slot < slots_.size() && slots_[slot].id == id ? &slots_[slot] : nullptr;
}

void TimerQueue::cancel(Id id) {
  Slot* s = live(id);
  if (!s) return;
  s->callback = nullptr;
  s->id = 0;
  freeSlots_.push_back(slotOf(id));
  // Stale entries are dropped as they reach the top; many cancelled far-off timers (a
  // connect timeout per connection) are cleared out in one go instead.
  const std::size_t running = slots_.size() - freeSlots_.size();
  if (heap_.size() > 64 && heap_.size() > 4 * running) {
    std::erase_if(heap_, [this](const Due& d) { return !live(d.id); });
    std::make_heap(heap_.begin(), heap_.end(), std::greater<>{});
  }
}

void TimerQueue::dropStale() {
  while (!heap_.empty() && !live(heap_.front().id)) {
    std::pop_heap(heap_.begin(), heap_.end(), std::greater<>{});
    heap_.pop_back();
  }
}

// The kernel is told only when a deadline comes earlier than the one it holds. One that comes
// later, or a cancel, leaves it as it is: the wake-up that follows finds nothing due and arms the
// next. A connection starts and cancels timers all its life; this way they cost no system call.
void TimerQueue::rearm() {
  dropStale();
  if (fd_ < 0 || heap_.empty()) return;
  const Clock::time_point next = heap_.front().when;
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
  // What is due is taken out first: timers started by a callback wait for the next round, even
  // when they are already due.
  const Clock::time_point now = Clock::now();
  std::vector<Due> due;
  while (!heap_.empty() && heap_.front().when <= now) {
    std::pop_heap(heap_.begin(), heap_.end(), std::greater<>{});
    due.push_back(heap_.back());
    heap_.pop_back();
  }
  for (const Due& d : due) {
    Slot* s = live(d.id);
    if (!s) continue;  // cancelled, before this round or by an earlier callback
    std::function<void()> callback = std::move(s->callback);
    cancel(d.id);
    callback();
  }
  rearm();
}

void Timer::start(std::chrono::milliseconds after, std::function<void()> callback) {
  cancel();
  auto& queue = EventLoop::current().timers();
  callback_ = std::move(callback);
  // The callback is moved out and the flag cleared before it runs: it may destroy this Timer.
  id_ = queue.schedule(TimerQueue::Clock::now() + after, [this] {
    id_ = 0;
    std::function<void()> cb = std::move(callback_);
    cb();
  });
}

void Timer::cancel() {
  if (id_ == 0) return;
  EventLoop::current().timers().cancel(id_);
  id_ = 0;
  callback_ = nullptr;
}

}  // namespace net
