// The relay's parts that need no socket: the connection table, the loop's timers and its
// buffer pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "net/BufferPool.h"
#include "net/EventLoop.h"
#include "net/PairTable.h"
#include "net/TcpStreamPair.h"
#include "net/TimerQueue.h"

using namespace std::chrono_literals;

// Checked against a plain model: an entry per index, null where free, emptied once all are free.
TEST(PairTable, ChurnKeepsLowestFreeIndexOrderAndEmptiesLikeAScan) {
  std::vector<CTcpStreamPair> records(20000);  // a distinct record for every add
  std::mt19937 random(9);
  net::PairTable table;
  std::vector<CTcpStreamPair*> model;
  for (int step = 0, added = 0; step < 20000; ++step) {
    const unsigned growPercent = (step / 2500) % 2 ? 35 : 65;  // fill up, drain (and empty) in turns
    if (model.empty() || random() % 100 < growPercent) {
      const auto lowest = std::find(model.begin(), model.end(), nullptr) - model.begin();
      ASSERT_EQ(table.add(&records[added]), lowest) << "step " << step;
      if (lowest == std::ssize(model)) model.push_back(nullptr);
      model[lowest] = &records[added++];
    } else {
      const auto i = static_cast<std::ptrdiff_t>(random() % (model.size() + 2)) - 1;  // free and outside too
      CTcpStreamPair* want = i >= 0 && i < std::ssize(model) ? model[i] : nullptr;
      ASSERT_EQ(table.release(static_cast<int>(i)), want) << "step " << step;
      if (want) model[i] = nullptr;
      if (std::count(model.begin(), model.end(), nullptr) == std::ssize(model)) model.clear();
    }
    ASSERT_EQ(table.size(), std::ssize(model)) << "step " << step;
    ASSERT_EQ(table.live(), std::ssize(model) - std::count(model.begin(), model.end(), nullptr));
    if (step % 997 != 0) continue;
    std::vector<CTcpStreamPair*> walked, live;  // the status dialog's walk: ascending, live only
    int position = 0;
    while (CTcpStreamPair* p = table.next(position)) walked.push_back(p);
    std::copy_if(model.begin(), model.end(), std::back_inserter(live), [](CTcpStreamPair* p) { return p; });
    ASSERT_EQ(walked, live);
    ASSERT_EQ(position, -1);
  }
}

// stop releases from index 0 upwards; adds in between (a nested loop accepting) still get the
// lowest free index, and the last release empties the table.
TEST(PairTable, ReleaseInOrderWithAddsBetween) {
  CTcpStreamPair r[8];
  net::PairTable table;
  for (auto& p : r) table.add(&p);
  table.release(5), table.releasingInOrder();
  EXPECT_TRUE(table.release(0) == &r[0] && table.release(1) == &r[1]);
  const std::vector<int> added{table.add(&r[0]), table.add(&r[1]), table.add(&r[5]), table.add(&r[5])};
  EXPECT_EQ(added, (std::vector<int>{0, 1, 5, 8}));
  for (int i = 0; i < table.size(); ++i) table.release(i);
  EXPECT_TRUE(table.size() == 0 && table.add(&r[3]) == 0) << "emptied";
}

// Deadline order through mass cancels, and callbacks that start or cancel timers.
TEST(TimerQueue, FireInDeadlineOrderThroughMassCancelsAndCallbacksThatStartOrCancelTimers) {
  auto& loop = net::EventLoop::current();
  auto& queue = loop.timers();
  std::string fired;
  std::uint64_t roundOfB = 0, roundOfLate = 0;
  // Far-off timers started and cancelled, as every connection does with its connect timeout:
  // enough of them that the queue clears them out while live ones sit among them.
  std::vector<net::TimerQueue::Id> far;
  for (int i = 0; i < 500; ++i)
    far.push_back(queue.schedule(net::TimerQueue::Clock::now() + 1h, [&] { fired += 'X'; }));
  net::Timer c, b, a, cancelled, late;
  c.start(500ms, [&] { fired += 'c'; });
  for (net::TimerQueue::Id id : far) queue.cancel(id);
  queue.cancel(far.back());  // twice: ignored
  b.start(20ms, [&] {
    fired += 'b', roundOfB = loop.round();
    cancelled.cancel();                                                  // due in the same round, and never runs
    late.start(0ms, [&] { fired += 'l', roundOfLate = loop.round(); });  // due, but waits for the next round
  });
  a.start(10ms, [&] { fired += 'a'; });
  cancelled.start(20ms, [&] { fired += '!'; });
  EXPECT_TRUE(loop.runUntil([&] { return fired.size() >= 4; }, 5s));
  EXPECT_EQ(fired, "ablc");
  EXPECT_TRUE(roundOfLate > roundOfB && !a.active() && !cancelled.active()) << roundOfLate << " " << roundOfB;
}

// A block given back is reused first; beyond the bound, blocks are unmapped.
TEST(BufferPool, KeepsABoundedNumberOfBlocksAndUnmapsTheRest) {
  net::BufferPool pool;
  constexpr std::size_t kSize = 1u << 20;
  const std::size_t blocks = net::BufferPool::kMaxPooledBytes / kSize + 4;
  std::vector<char*> taken;
  for (std::size_t i = 0; i < blocks; ++i) {
    taken.push_back(pool.take(kSize));
    ASSERT_NE(taken.back(), nullptr);
    taken.back()[kSize - 1] = 'x';  // the whole size is usable
  }
  EXPECT_EQ(pool.mappedBlocks(), blocks);
  pool.give(taken.front(), kSize);
  EXPECT_EQ(pool.take(kSize), taken.front()) << "a given block is reused before anything is mapped";
  for (char* b : taken) pool.give(b, kSize);
  EXPECT_LE(pool.pooledBytes(), net::BufferPool::kMaxPooledBytes);
  EXPECT_LT(pool.mappedBlocks(), blocks) << "blocks beyond the bound are unmapped";
}
