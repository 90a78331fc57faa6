#pragma once
// Fixed-capacity byte queue for one relayed direction. Bytes are received straight into the free
// space and sent straight from the queued space, so each byte is copied once and nothing is moved
// after a partial send.
//
//   storage: [ .... queued .... | ..free.. ]     or wrapped: [ queued-tail | ..free.. | queued-head ]
//            ^head_             ^head_+size_                               ^head_ - wraps at capacity
//
// The storage is allocated on the first write and kept, so an idle stream costs nothing.
#include <cstdint>
#include <memory>
#include <span>

namespace net {

class ByteRing {
public:
  // Empty queues only; the old storage is dropped when the capacity changes.
  void setCapacity(std::uint32_t capacity);
  std::uint32_t capacity() const { return capacity_; }
  std::uint32_t size() const { return size_; }
  std::uint32_t freeSpace() const { return capacity_ - size_; }

  std::span<char> writable();  // contiguous free bytes after the queued ones (may be empty)
  void commit(std::uint32_t n);  // n bytes were written into writable()
  std::span<const char> readable() const;  // contiguous queued bytes at the front
  void consume(std::uint32_t n);  // n bytes of readable() have gone
  std::uint32_t append(const char* data, std::uint32_t n);  // copies at most freeSpace()

private:
  std::unique_ptr<char[]> storage_;
  std::uint32_t capacity_ = 0;
  std::uint32_t head_ = 0;
  std::uint32_t size_ = 0;
};

}  // namespace net
