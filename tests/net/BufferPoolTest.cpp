// Ring storage follows the traffic: taken for queued bytes, back in the pool once they are sent,
// and the pool keeps only a bounded amount.
#include "NetHarness.h"
#include "net/BufferPool.h"

using namespace nettest;
using namespace testsupport;

TEST(BufferPool, KeepsABoundedNumberOfBlocksAndUnmapsTheRest) {
  net::BufferPool& pool = net::BufferPool::instance();
  constexpr std::size_t kSize = 1u << 20;  // a size nothing else here uses
  const std::size_t mappedBefore = pool.mappedBlocks();
  const std::size_t blocks = net::BufferPool::kMaxPooledBytes / kSize + 4;
  std::vector<char*> taken;
  for (std::size_t i = 0; i < blocks; ++i) {
    taken.push_back(pool.take(kSize));
    ASSERT_NE(taken.back(), nullptr);
    taken.back()[kSize - 1] = 'x';  // the whole size is usable
  }
  EXPECT_EQ(pool.mappedBlocks(), mappedBefore + blocks);
  char* first = taken.front();
  pool.give(first, kSize);
  EXPECT_EQ(pool.take(kSize), first) << "a given block is reused before anything is mapped";
  for (char* b : taken) pool.give(b, kSize);
  EXPECT_LE(pool.pooledBytes(), net::BufferPool::kMaxPooledBytes);
  EXPECT_LT(pool.mappedBlocks(), mappedBefore + blocks) << "blocks beyond the bound are unmapped";
}

// A pair that carried bulk data and went quiet holds no ring; the next pair gets the pooled
// storage and must see exactly its own bytes, none of the earlier pair's.
TEST(BufferPool, QuietPairsHoldNoRingAndReusedStorageCarriesNoStaleBytes) {
  StdoutCapture quiet;
  Relay r(4);
  int c1, d1, c2, d2;
  ASSERT_TRUE(r.connectPair(c1, d1));
  CTcpStreamPair* first = r.pairOf(c1);
  const std::string bulk = pattern(1u << 20, 11);
  std::string got;
  EXPECT_TRUE(runWithPeer([&] {
    std::thread sender([&] { sendAll(c1, bulk, 30s); });
    got = recvExact(d1, bulk.size(), 30s);
    sender.join();
  }));
  EXPECT_EQ(got, bulk);
  EXPECT_EQ(first->connectStream->maxRemainCount, 4096u) << "the ring was filled to its bound";
  loop().runFor(50ms);
  EXPECT_FALSE(first->connectStream->holdsSendBuffer());
  EXPECT_FALSE(first->acceptStream->holdsSendBuffer());
  EXPECT_GT(net::BufferPool::instance().pooledBytes(), 0u);

  ASSERT_TRUE(r.connectPair(c2, d2));
  for (std::size_t size : {1u, 3u, 4095u, 4096u, 4097u, 10000u}) {
    const std::string up = pattern(size, static_cast<unsigned>(size)), down = pattern(size / 2 + 1, 5);
    std::string atDest, atClient;
    EXPECT_TRUE(runWithPeer([&] {
      sendAll(c2, up), atDest = recvExact(d2, up.size());
      sendAll(d2, down), atClient = recvExact(c2, down.size());
    }));
    EXPECT_EQ(atDest, up) << size;
    EXPECT_EQ(atClient, down) << size;
  }
  for (int* fd : {&c1, &d1, &c2, &d2}) closeFd(*fd);
}
