#pragma once
// Fixed-capacity byte queue for one relayed direction. Bytes are received straight into the free
// space and sent straight from the queued space, so each byte is copied once and nothing is moved
// after a partial send.
//
//   storage: [ .... queued .... | ..free.. ]     or wrapped: [ queued-tail | ..free.. | queued-head ]
//            ^head_             ^head_+size_                               ^head_ - wraps at capacity
//
// The storage is taken from the loop's BufferPool on the first write and given back as soon
// as the queue is empty again, so a stream with nothing queued holds no buffer memory, whatever
// it carried before.
#include <cstdint>
#include <span>

namespace net {

class BufferPool;

class ByteRing {
public:
  explicit ByteRing(BufferPool& pool) : pool_(pool) {}
  ~ByteRing();
  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  // Empty queues only; the old storage is dropped when the capacity changes.
  void setCapacity(std::uint32_t capacity);
  std::uint32_t capacity() const { return capacity_; }
  std::uint32_t size() const { return size_; }
  std::uint32_t freeSpace() const { return capacity_ - size_; }

  // Contiguous free bytes after the queued ones; empty when full (or when no memory is left).
  std::span<char> writable();
  void commit(std::uint32_t n);            // n bytes were written into writable(); 0 lets empty storage go
  std::span<const char> readable() const;  // contiguous queued bytes at the front
  void consume(std::uint32_t n);           // n bytes of readable() have gone
  std::uint32_t append(const char* data, std::uint32_t n);  // copies at most freeSpace()
  bool holdsStorage() const { return storage_ != nullptr; }

private:
  void releaseIfEmpty();

  BufferPool& pool_;
  char* storage_ = nullptr;  // from pool_ while bytes are queued
  std::uint32_t capacity_ = 0;
  std::uint32_t head_ = 0;
  std::uint32_t size_ = 0;
};

}  // namespace net
