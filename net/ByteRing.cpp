#include "net/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace net {

void ByteRing::setCapacity(std::uint32_t capacity) {
  if (size_ != 0 || capacity == capacity_) return;
  storage_.reset();
  capacity_ = capacity;
  head_ = 0;
}

std::span<char> ByteRing::writable() {
  if (size_ == capacity_) return {};
  if (!storage_) storage_ = std::make_unique_for_overwrite<char[]>(capacity_);
  std::uint32_t tail = (head_ + size_) % capacity_;
  std::uint32_t end = size_ != 0 && tail < head_ ? head_ : capacity_;
  return {storage_.get() + tail, end - tail};
}

void ByteRing::commit(std::uint32_t n) { size_ += std::min(n, freeSpace()); }

std::span<const char> ByteRing::readable() const {
  if (size_ == 0) return {};
  return {storage_.get() + head_, std::min(size_, capacity_ - head_)};
}

void ByteRing::consume(std::uint32_t n) {
  n = std::min(n, size_);
  size_ -= n;
  // Restarting at the front keeps the next receive and send in one piece.
  head_ = size_ == 0 ? 0 : (head_ + n) % capacity_;
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
