#pragma once
// Shared pieces of the net tests: stdout capture, the one way to wait on the loop, and a
// repeater between test clients and a test destination.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "Loopback.h"
#include "net/AsyncSocket.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"

namespace nettest {

using namespace std::chrono_literals;
using namespace testsupport;
using Clock = std::chrono::steady_clock;

inline net::EventLoop& loop() { return net::EventLoop::current(); }
inline double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }
// Nothing in the epoll set is ready right now.
inline bool loopQuiet() { return !readableWithin(loop().fd(), 0ms); }

// Dispatches until done (false when the time ran out first), with work, if any, running on a
// thread meanwhile as the peers' side; work's own calls are bounded in time.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s,
                    const std::function<void()>& work = nullptr) {
  std::atomic<bool> finished{!work};
  std::thread peer;
  if (work) peer = std::thread([&] { work(), finished = true; });
  const bool ok = loop().runUntil([&] { return finished.load() && (!done || done()); }, timeout);
  if (peer.joinable()) peer.join();
  return ok;
}
inline bool runWithPeer(const std::function<void()>& work, std::chrono::milliseconds timeout = 60s) {
  return waitFor(nullptr, timeout, work);
}

// Points fd 1 at a temp file for its lifetime.
class StdoutCapture {
public:
  StdoutCapture() { std::fflush(stdout), ::dup2(::fileno(file_), 1), traceTargetChanged(); }
  ~StdoutCapture() {
    std::fflush(stdout), ::dup2(saved_, 1), ::close(saved_), traceTargetChanged(), std::fclose(file_);
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

inline std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : s) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<char>(x);
  return s;
}

struct Counts final : CTcpRepeaterListener {
  std::vector<int> seen;
  std::vector<std::pair<PairEnding, int>> endings;  // how and err of each pair's end
  std::vector<std::string> failures;                // the resolver's reason of each pair's end, "" for none
  int loopsRefused = 0;
  void notifyOnConnectionCount(int count) override { seen.push_back(count); }
  void notifyOnPairEnd(const CTcpStreamPair& pair, PairEnding how, int err) override {
    endings.emplace_back(how, err), failures.push_back(pair.failure);
  }
  void notifyOnLoopRefused(const std::string&, int) override { ++loopsRefused; }
};

// A listener whose accept queue (backlog 0) is full, so connects to it stay in progress.
struct FullBacklog : LoopbackListener {
  int filler = -1;
  FullBacklog() { ::listen(fd, 0), filler = connectLoopback(port); }
  ~FullBacklog() { closeFd(filler); }
};

struct Relay {
  LoopbackListener dest;
  Counts counts;
  CTcpRepeater repeater;
  int port = 0;

  explicit Relay(int bufferKB = 128, const std::string& host = "127.0.0.1", int destPort = 0) {
    socketInit(), repeater.setListener(&counts), repeater.setBufferSize(bufferKB);
    for (int attempt = 0; attempt < 5 && !repeater.isListening(); ++attempt)
      repeater.start(port = freePort(), host, destPort ? destPort : dest.port);
  }
  int client() const { return connectLoopback(port); }

  bool connectPair(int& clientFd, int& destFd) {  // until the pair is connected
    auto connected = [&] {
      CTcpStreamPair* p = pairOf(clientFd);
      return destFd >= 0 && p && p->connectStream->connectState == STREAM_CONNECTED;
    };
    clientFd = client();
    return clientFd >= 0 && waitFor(connected, 10s, [&] { destFd = dest.acceptOne(10s); });
  }

  CTcpStreamPair* pairOf(int clientFd) {  // by the client's local port
    int position = 0;
    while (CTcpStreamPair* p = repeater.getNextPair(position))
      if (p->acceptStream->peerPort == portOf(clientFd)) return p;
    return nullptr;
  }
};

}  // namespace nettest
