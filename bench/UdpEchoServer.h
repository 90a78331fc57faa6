#pragma once
// The far end of the UDP bench: one thread on 127.0.0.1 that sends every datagram but an empty
// one back to where it came from, unchanged. Through a relay that is the relay's session
// socket, so the echo travels the whole path back.
#include <atomic>
#include <cstdint>
#include <thread>

namespace bench {

class UdpEchoServer {
public:
  explicit UdpEchoServer(int port);
  ~UdpEchoServer();  // stops the thread within its receive timeout
  UdpEchoServer(const UdpEchoServer&) = delete;
  UdpEchoServer& operator=(const UdpEchoServer&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::uint64_t echoed() const { return echoed_.load(std::memory_order_relaxed); }

private:
  void run();
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> echoed_{0};
  std::thread thread_;
};

}  // namespace bench
