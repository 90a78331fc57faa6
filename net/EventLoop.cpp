#include "net/EventLoop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "net/BufferPool.h"
#include "net/OwnEndpoints.h"
#include "net/ResetAfterDrain.h"
#include "net/Resolver.h"
#include "net/TimerQueue.h"

namespace net {
namespace {

constexpr EventLoop::Token kRetryTimerToken = 0;
constexpr long kDescriptorRetryNs = 200'000'000;  // 200 ms
constexpr int kBatch = 128;

}  // namespace

EventLoop& EventLoop::current() {
  // Never destroyed: a socket owned by a static object may still close after the thread's
  // thread-local objects are gone.
  thread_local EventLoop* loop = nullptr;
  if (!loop) loop = new EventLoop();
  return *loop;
}

EventLoop::EventLoop() {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  // Made up front: when descriptors run out there would be none left for it.
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (epollFd_ >= 0 && timerFd_ >= 0) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kRetryTimerToken;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, timerFd_, &ev);
  }
  timers_ = std::make_unique<TimerQueue>(*this);
  buffers_ = std::make_unique<BufferPool>();
  ownEndpoints_ = std::make_unique<OwnEndpoints>();
  draining_ = std::make_unique<DrainingSockets>(*this);
}

EventLoop::~EventLoop() {
  resolver_.reset();
  draining_.reset();
  timers_.reset();
  if (timerFd_ >= 0) ::close(timerFd_);
  if (epollFd_ >= 0) ::close(epollFd_);
}

Resolver& EventLoop::resolver() {
  if (!resolver_) resolver_ = std::make_unique<Resolver>(*this);
  return *resolver_;
}

void EventLoop::dispatch() { wait(0); }

bool EventLoop::wait(int timeoutMs) {
  std::array<epoll_event, kBatch> events;  // per call: a nested round must not overwrite ours
  int n = ::epoll_wait(epollFd_, events.data(), kBatch, posted_.empty() ? timeoutMs : 0);
  if (n < 0) return errno == EINTR;
  if (n == 0) {
    deliverPosted();
    endRound();
    return true;
  }
  const std::uint64_t myRound = ++round_;
  ++depth_;
  for (int i = 0; i < n; ++i) {
    Token token = events[i].data.u64;
    if (token == kRetryTimerToken) {
      onRetryTimer();
      continue;
    }
    auto it = entries_.find(token);
    if (it == entries_.end()) continue;  // closed earlier in this round
    it->second.watcher->onReady(events[i].events);
    // A nested loop ran inside the handler and may have acted on what is left of this batch.
    // Level-triggered epoll reports anything still pending again, so drop the rest.
    if (round_ != myRound) break;
  }
  --depth_;
  deliverPosted();
  endRound();
  return true;
}

void EventLoop::closeLater(int fd) {
  if (depth_ == 0) {
    ::close(fd);
    descriptorFreed();
    return;
  }
  closing_.push_back(fd);
}

void EventLoop::endRound() {
  if (!closing_.empty()) {
    for (int fd : closing_) ::close(fd);
    closing_.clear();
    descriptorFreed();
  }
  if (roundEnd_) roundEnd_();
}

bool EventLoop::post(Token token) {
  if (depth_ == 0) return false;
  posted_.push_back(token);
  return true;
}

void EventLoop::deliverPosted() {
  if (posted_.empty()) return;
  std::vector<Token> due;
  due.swap(posted_);
  ++depth_;  // calls posted by these handlers come at the end of this same delivery
  for (Token token : due) {
    auto it = entries_.find(token);
    if (it != entries_.end()) it->second.watcher->onPosted();
  }
  --depth_;
  if (depth_ == 0 && !posted_.empty()) deliverPosted();
}

void EventLoop::runOnce(std::chrono::milliseconds timeout) {
  wait(static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout.count())));
}

bool EventLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return done();
    runOnce(std::min(left, std::chrono::milliseconds(20)));
  }
  return true;
}

void EventLoop::runFor(std::chrono::milliseconds duration) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + duration;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    runOnce(left);
  }
}

EventLoop::Token EventLoop::add(int fd, Watcher* watcher) {
  Token token = nextToken_++;
  entries_.emplace(token, Entry{fd, watcher});
  return token;
}

void EventLoop::setInterest(Token token, std::uint32_t events) {
  auto it = entries_.find(token);
  if (it == entries_.end()) return;
  Entry& e = it->second;
  if (e.parked) {
    if (events == e.parkedWith) return;
    e.parked = false;
  }
  apply(token, e, events);
}

void EventLoop::apply(Token token, Entry& e, std::uint32_t events) {
  if (events == e.interest) return;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = token;
  if (events == 0) {
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, e.fd, nullptr);
  } else if (e.interest == 0) {
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, e.fd, &ev);
  } else {
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, e.fd, &ev);
  }
  e.interest = events;
}

void EventLoop::park(Token token) {
  auto it = entries_.find(token);
  if (it == entries_.end() || it->second.parked) return;
  Entry& e = it->second;
  std::uint32_t interest = e.interest;
  apply(token, e, 0);
  e.parked = true;
  e.parkedWith = interest;
}

void EventLoop::remove(Token token) {
  auto it = entries_.find(token);
  if (it == entries_.end()) return;
  if (it->second.interest != 0) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  entries_.erase(it);
}

void EventLoop::waitForDescriptors(Token token) {
  if (std::find(starving_.begin(), starving_.end(), token) == starving_.end()) starving_.push_back(token);
  armRetryTimer(true);
}

void EventLoop::descriptorFreed() {
  if (starving_.empty()) return;
  std::vector<Token> waiting;
  waiting.swap(starving_);
  armRetryTimer(false);
  for (Token token : waiting) {
    auto it = entries_.find(token);
    if (it != entries_.end()) it->second.watcher->onDescriptorsFreed();
  }
}

void EventLoop::armRetryTimer(bool on) {
  if (timerFd_ < 0) return;
  itimerspec period{};
  if (on) {
    period.it_value.tv_nsec = kDescriptorRetryNs;
    period.it_interval.tv_nsec = kDescriptorRetryNs;
  }
  ::timerfd_settime(timerFd_, 0, &period, nullptr);
}

void EventLoop::onRetryTimer() {
  std::uint64_t expirations = 0;
  while (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
  }
  descriptorFreed();
}

}  // namespace net
