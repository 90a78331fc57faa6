#pragma once
// Blocking helpers for the peers that tests put on either side of the relay.
// Every call is bounded in time; nothing here waits forever.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace testsupport {

using namespace std::chrono_literals;

// A listening socket on a loopback address (127.0.0.1 unless given; "::1" too) with a port of
// the kernel's choosing unless given; fd is -1 where the host has no such address or the port is taken.
struct LoopbackListener {
  int fd = -1;
  int port = 0;
  explicit LoopbackListener(const char* host = "127.0.0.1", int at = 0);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  // Waits up to `timeout` for a connection; -1 when none came.
  int acceptOne(std::chrono::milliseconds timeout = 5s) const;
};

// A free port on 127.0.0.1 at the time of the call (bound once, then released).
int freePort();

// A connected blocking socket to target:port (from source, of the kernel's choosing unless
// given; numeric addresses of one family); -1 on failure.
int connectLoopback(int port, std::chrono::milliseconds timeout = 5s, const char* target = "127.0.0.1",
                    const char* source = nullptr);

bool sendAll(int fd, const std::string& data, std::chrono::milliseconds timeout = 10s);

// Up to n bytes, fewer when the peer ends first (`closed`; `reset` when by a reset rather than an
// orderly close) or the time runs out.
std::string receive(int fd, std::size_t n, std::chrono::milliseconds timeout, bool* closed = nullptr,
                    bool* reset = nullptr);
inline std::string recvExact(int fd, std::size_t n, std::chrono::milliseconds timeout = 10s) {
  return receive(fd, n, timeout);
}
inline std::string recvUntilEof(int fd, std::chrono::milliseconds timeout = 10s, bool* closed = nullptr,
                                bool* reset = nullptr) {
  return receive(fd, SIZE_MAX, timeout, closed, reset);
}
// True when the peer has closed (or reset) the connection within the time.
inline bool waitPeerClosed(int fd, std::chrono::milliseconds timeout = 5s) {
  bool closed = false;
  return receive(fd, SIZE_MAX, timeout, &closed), closed;
}

// True when fd has bytes or an end to read within the time.
bool readableWithin(int fd, std::chrono::milliseconds timeout);

void closeFd(int& fd);
// Closes with a reset (linger 0), so the other end sees an error rather than an orderly end.
void resetClose(int& fd);

// The local port of fd, or with `peer` the port of the other end; 0 when it has none.
int portOf(int fd, bool peer = false);

}  // namespace testsupport
