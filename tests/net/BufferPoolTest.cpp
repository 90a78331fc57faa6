// The pool keeps only a bounded amount; what a quiet pair gives back is the relay flow's test.
#include <gtest/gtest.h>

#include <vector>

#include "net/BufferPool.h"

TEST(BufferPool, KeepsABoundedNumberOfBlocksAndUnmapsTheRest) {
  net::BufferPool pool;
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
