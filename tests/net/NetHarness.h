#pragma once
// Shared pieces of the net tests: stdout capture, a repeater between test clients and a test
// destination, and peers that run on a thread while the loop dispatches.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Loopback.h"
#include "net/AsyncSocket.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"

namespace nettest {

using namespace std::chrono_literals;

inline net::EventLoop& loop() { return net::EventLoop::current(); }

using Clock = std::chrono::steady_clock;
inline double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

inline bool loopQuiet() {  // nothing in the epoll set is ready right now
  pollfd p{loop().fd(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 0;
}

// Points fd 1 at a temp file for its lifetime; shows the end of it if the test failed.
class StdoutCapture {
public:
  StdoutCapture() { std::fflush(stdout), ::dup2(::fileno(file_), 1), traceTargetChanged(); }
  ~StdoutCapture() {
    std::fflush(stdout), ::dup2(saved_, 1), ::close(saved_), traceTargetChanged();
    const std::string t = text();  // the failure messages went into the capture too
    if (::testing::Test::HasFailure())
      std::fprintf(stderr, "--- captured ---\n%s\n", t.substr(t.size() > 65536 ? t.size() - 65536 : 0).c_str());
    std::fclose(file_);
  }
  std::string text() const {  // works even when descriptors have run out
    std::fflush(stdout);
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = ::pread(::fileno(file_), buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
      out.append(buf, n);
    return out;
  }

private:
  int saved_ = (std::fflush(stdout), ::dup(1));
  std::FILE* file_ = std::tmpfile();
};

// Runs work on a thread while the loop dispatches; false when it did not finish in time.
inline bool runWithPeer(const std::function<void()>& work, std::chrono::milliseconds timeout = 60s) {
  std::atomic<bool> done{false};
  std::thread peer([&] { work(), done = true; });
  bool ok = loop().runUntil([&] { return done.load(); }, timeout);
  peer.join();  // the peer's own calls are bounded in time
  return ok;
}

inline std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : s) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<char>(x);
  return s;
}

struct Counts : CTcpRepeaterListener {
  std::vector<int> seen;
  int loopsRefused = 0;
  void notifyOnConnectionCount(int count) override { seen.push_back(count); }
  void notifyOnLoopRefused(const std::string&, int) override { ++loopsRefused; }
};

// A listener whose accept queue (backlog 0) is full, so connects to it stay in progress.
struct FullBacklog : testsupport::LoopbackListener {
  int filler = -1;
  FullBacklog() { ::listen(fd, 0), filler = testsupport::connectLoopback(port); }
  ~FullBacklog() { testsupport::closeFd(filler); }
};

struct Relay {
  testsupport::LoopbackListener dest;
  Counts counts;
  CTcpRepeater repeater;
  int port = 0;

  explicit Relay(int bufferKB = 128, const std::string& host = "127.0.0.1", int destPort = 0) {
    socketInit();
    repeater.setListener(&counts);
    repeater.setBufferSize(bufferKB);
    for (int attempt = 0; attempt < 5 && !repeater.isListening(); ++attempt) {
      port = testsupport::freePort();
      repeater.start(port, host, destPort ? destPort : dest.port);
    }
  }
  int client() const { return testsupport::connectLoopback(port); }

  bool connectPair(int& clientFd, int& destFd) {  // until the pair is connected
    clientFd = client();
    runWithPeer([&] { destFd = dest.acceptOne(10s); });
    return clientFd >= 0 && destFd >= 0 && loop().runUntil([&] {
      CTcpStreamPair* p = pairOf(clientFd);
      return p && p->connectStream->connectState == STREAM_CONNECTED;
    }, 5s);
  }

  CTcpStreamPair* pairOf(int clientFd) {  // by the client's local port
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(clientFd, reinterpret_cast<sockaddr*>(&a), &len);
    int position = 0;
    while (CTcpStreamPair* p = repeater.getNextPair(position))
      if (p->acceptStream->peerPort == ntohs(a.sin_port)) return p;
    return nullptr;
  }
};

}  // namespace nettest
