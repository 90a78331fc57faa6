#pragma once
// Shared pieces of the relay engine tests: stdout capture, a repeater between test clients and a
// test destination, and peers that run while the loop dispatches.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Loopback.h"
#include "net/EventLoop.h"
#include "net/TcpRepeater.h"

namespace nettest {

using namespace std::chrono_literals;

net::EventLoop& loop();
bool loopQuiet();  // nothing in the epoll set is ready right now

// Points fd 1 at a temp file for its lifetime; shows the end of it if the test failed.
class StdoutCapture {
public:
  StdoutCapture();
  ~StdoutCapture();
  std::string text() const;  // works even when descriptors have run out

private:
  int saved_ = -1, readFd_ = -1;
  std::string path_;
};

// Runs work on a thread while the loop dispatches; false when it did not finish in time.
bool runWithPeer(const std::function<void()>& work, std::chrono::milliseconds timeout = 60s);
int acceptWhileRunning(int listenFd, std::chrono::milliseconds timeout = 5s);
void abortFd(int& fd);  // close with a reset
std::string pattern(std::size_t n, unsigned seed);

struct Counts : CTcpRepeaterListener {
  std::vector<int> seen;
  void notifyOnConnectionCount(int count) override { seen.push_back(count); }
};

// A listener whose accept queue (backlog 0) is full, so connects to it stay in progress.
struct FullBacklog {
  int fd = -1, port = 0, filler = -1;
  FullBacklog();
  ~FullBacklog();
};

struct Relay {
  testsupport::LoopbackListener dest;
  Counts counts;
  CTcpRepeater repeater;
  int port = 0;

  explicit Relay(int bufferKB = 128, const std::string& host = "127.0.0.1", int destPort = 0);
  int client() const { return testsupport::connectLoopback(port); }
  bool connectPair(int& clientFd, int& destFd);  // until the pair is connected
  CTcpStreamPair* pairOf(int clientFd);          // by the client's local port
};

}  // namespace nettest
