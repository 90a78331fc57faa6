#include "net/ByteRing.h"

#include <algorithm>
#include <cstring>

#include "net/BufferPool.h"

namespace net {

ByteRing::~ByteRing() { pool_.give(storage_, capacity_); }

void ByteRing::setCapacity(std::uint32_t capacity) {
  if (size_ != 0 || capacity == capacity_) return;
  pool_.give(storage_, capacity_);
  storage_ = nullptr;
  capacity_ = capacity;
  head_ = 0;
}

void ByteRing::releaseIfEmpty() {
  if (size_ != 0 || !storage_) return;
  pool_.give(storage_, capacity_);
  storage_ = nullptr;
  head_ = 0;
}

std::span<char> ByteRing::writable() {
  if (size_ == capacity_) return {};
  if (!storage_ && !(storage_ = pool_.take(capacity_))) return {};
  std::uint32_t tail = (head_ + size_) % capacity_;
  std::uint32_t end = size_ != 0 && tail < head_ ? head_ : capacity_;
  return {storage_ + tail, end - tail};
}

void ByteRing::commit(std::uint32_t n) {
  size_ += std::min(n, freeSpace());
  releaseIfEmpty();
}

std::span<const char> ByteRing::readable() const {
  if (size_ == 0) return {};
  return {storage_ + head_, std::min(size_, capacity_ - head_)};
}

void ByteRing::consume(std::uint32_t n) {
  n = std::min(n, size_);
  size_ -= n;
  // Restarting at the front keeps the next receive and send in one piece.
  head_ = size_ == 0 ? 0 : (head_ + n) % capacity_;
  releaseIfEmpty();
}

std::uint32_t ByteRing::append(const char* data, std::uint32_t n) {
  std::uint32_t done = 0;
  while (done < n) {
    std::span<char> room = writable();
    if (room.empty()) break;
    std::uint32_t part = std::min<std::uint32_t>(n - done, static_cast<std::uint32_t>(room.size()));
    std::memcpy(room.data(), data + done, part);
    commit(part);
    done += part;
  }
  return done;
}

}  // namespace net
