#pragma once
// Blocking helpers for the peers that tests put on either side of the relay.
// Every call is bounded in time; nothing here waits forever.
#include <chrono>
#include <cstddef>
#include <string>

namespace testsupport {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 with a port of the kernel's choosing.
struct LoopbackListener {
  int fd = -1;
  int port = 0;
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  // Waits up to `timeout` for a connection; -1 when none came.
  int acceptOne(std::chrono::milliseconds timeout = 5s) const;
};

// A free port on 127.0.0.1 at the time of the call (bound once, then released).
int freePort();

// Blocking connect to 127.0.0.1:port; -1 on failure.
int connectLoopback(int port, std::chrono::milliseconds timeout = 5s);

bool sendAll(int fd, const void* data, std::size_t len, std::chrono::milliseconds timeout = 10s);
bool sendAll(int fd, const std::string& data, std::chrono::milliseconds timeout = 10s);

// Reads exactly n bytes unless the peer closes or the time runs out first.
std::string recvExact(int fd, std::size_t n, std::chrono::milliseconds timeout = 10s);

// Reads until the peer closes; `closed` tells whether the end came from the peer.
std::string recvUntilEof(int fd, std::chrono::milliseconds timeout = 10s, bool* closed = nullptr);

// True when the peer has closed (or reset) the connection within the time.
bool waitPeerClosed(int fd, std::chrono::milliseconds timeout = 5s);

void closeFd(int& fd);

}  // namespace testsupport
