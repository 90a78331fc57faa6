#pragma once
// A loop's pool of ring storage blocks (the loop owns it), so a stream holds memory only while bytes wait in it.
// Blocks are mapped straight from the system: an unmapped block's pages go back at once (the
// heap would keep them), and pages of a fresh block that are never written cost nothing.
// The pool keeps a few empty blocks per size for the next burst, up to a small byte bound;
// what is given back beyond that is unmapped. Single-threaded, like the loop.
//
//   take(size) -> block of at least size bytes (reused, most recently given first; else mapped)
//   give(block, size) -> kept for reuse, or unmapped when the pool is full
#include <cstddef>
#include <vector>

namespace net {

class BufferPool {
public:
  static constexpr std::size_t kMaxPooledBytes = 4u << 20;  // 32 blocks of the default 128 KiB
  static constexpr std::size_t kMinBlocksPerSize = 2;       // kept whatever their size

  BufferPool() = default;
  ~BufferPool();
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  char* take(std::size_t size);  // null when the system has no memory to give
  void give(char* block, std::size_t size);
  std::size_t pooledBytes() const { return pooledBytes_; }
  std::size_t mappedBlocks() const { return mapped_; }  // in use or pooled

private:
  struct Shelf {
    std::size_t size;
    std::vector<char*> blocks;
  };
  Shelf& shelf(std::size_t size);

  std::vector<Shelf> shelves_;  // one per block size in use; usually one
  std::size_t pooledBytes_ = 0;
  std::size_t mapped_ = 0;
};

}  // namespace net
