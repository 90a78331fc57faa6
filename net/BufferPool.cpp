#include "net/BufferPool.h"

#include <sys/mman.h>
#include <unistd.h>

namespace net {
namespace {

std::size_t pageRounded(std::size_t size) {
  static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

}  // namespace

BufferPool::~BufferPool() {
  for (Shelf& s : shelves_)
    for (char* block : s.blocks) ::munmap(block, s.size);
}

BufferPool::Shelf& BufferPool::shelf(std::size_t size) {
  for (Shelf& s : shelves_)
    if (s.size == size) return s;
  shelves_.push_back(Shelf{size, {}});
  return shelves_.back();
}

char* BufferPool::take(std::size_t size) {
  size = pageRounded(size);
  Shelf& s = shelf(size);
  if (!s.blocks.empty()) {
    char* block = s.blocks.back();
    s.blocks.pop_back();
    pooledBytes_ -= size;
    return block;
  }
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  ++mapped_;
  return static_cast<char*>(block);
}

void BufferPool::give(char* block, std::size_t size) {
  if (!block) return;
  size = pageRounded(size);
  Shelf& s = shelf(size);
  if (s.blocks.size() < kMinBlocksPerSize || pooledBytes_ + size <= kMaxPooledBytes) {
    s.blocks.push_back(block);
    pooledBytes_ += size;
    return;
  }
  ::munmap(block, size);
  --mapped_;
}

}  // namespace net
