#include <gtest/gtest.h>

#include <cstring>

#include "net/ByteRing.h"

// Bytes keep their order across the wrap, and neither side ever goes past the capacity.
TEST(ByteRing, KeepsOrderAcrossTheWrapWithinCapacity) {
  net::ByteRing ring;
  ring.setCapacity(8);
  EXPECT_FALSE(ring.allocated());
  EXPECT_EQ(ring.append("abcdef", 6), 6u);
  ring.consume(4);  // "ef" left at offset 4
  std::span<char> room = ring.writable();
  ASSERT_EQ(room.size(), 2u);  // up to the end of the storage
  std::memcpy(room.data(), "gh", 2);
  ring.commit(2);
  EXPECT_EQ(ring.append("ijklm", 5), 4u);  // wraps; only 4 fit
  EXPECT_EQ(ring.freeSpace(), 0u);
  EXPECT_TRUE(ring.writable().empty());
  std::string out;
  while (ring.size() > 0) {
    std::span<const char> part = ring.readable();
    out.append(part.data(), part.size());
    ring.consume(static_cast<uint32_t>(part.size()));
  }
  EXPECT_EQ(out, "efghijkl");
  EXPECT_EQ(ring.writable().size(), 8u) << "an emptied queue starts again at the front";
}
