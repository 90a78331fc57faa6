// The loop's timers: deadline order, cancels in bulk, and callbacks that start or cancel timers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/EventLoop.h"
#include "net/TimerQueue.h"

namespace {

using namespace std::chrono_literals;

TEST(TimerQueue, FireInDeadlineOrderThroughMassCancelsAndCallbacksThatStartOrCancelTimers) {
  auto& loop = net::EventLoop::current();
  auto& queue = loop.timers();
  const auto t0 = net::TimerQueue::Clock::now();
  std::string fired;
  std::uint64_t roundOfB = 0, roundOfLate = 0;
  // Far-off timers started and cancelled, as every connection does with its connect timeout:
  // enough of them that the queue clears them out while live ones sit among them.
  std::vector<net::TimerQueue::Id> far;
  for (int i = 0; i < 500; ++i) far.push_back(queue.schedule(t0 + 1h, [&] { fired += 'X'; }));
  net::Timer c, b, a, cancelled, late;
  c.start(30ms, [&] { fired += 'c'; });
  for (int i = 0; i < 499; ++i) queue.cancel(far[i]);
  queue.cancel(far[499]);
  queue.cancel(far[499]);  // twice: ignored
  b.start(20ms, [&] {
    fired += 'b';
    roundOfB = loop.round();
    cancelled.cancel();  // due in the same round, and never runs
    // Already due, but started by a callback: it waits for the next round.
    late.start(0ms, [&] { fired += 'l', roundOfLate = loop.round(); });
  });
  a.start(10ms, [&] { fired += 'a'; });
  cancelled.start(20ms, [&] { fired += '!'; });
  EXPECT_TRUE(loop.runUntil([&] { return fired.size() >= 4; }, 2s));
  EXPECT_EQ(fired, "ablc");
  EXPECT_GT(roundOfLate, roundOfB);
  EXPECT_FALSE(a.active());
  EXPECT_FALSE(cancelled.active());
}

}  // namespace
