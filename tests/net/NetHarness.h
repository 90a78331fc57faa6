#pragma once
// Shared pieces of the relay engine tests: stdout capture, a repeater wired between test clients
// and a test destination, and ways to run peers while the loop dispatches.
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
bool loopQuiet();  // nothing is ready in the epoll set right now

// Points fd 1 at a temp file for its lifetime.
class StdoutCapture {
public:
  StdoutCapture();
  ~StdoutCapture();
  std::string text() const;

private:
  int saved_ = -1;
  int readFd_ = -1;
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

struct Relay {
  testsupport::LoopbackListener dest;
  Counts counts;
  CTcpRepeater repeater;
  int port = 0;

  explicit Relay(int bufferKB = 128, const std::string& host = "127.0.0.1", int destPort = 0);
  int client() const { return testsupport::connectLoopback(port); }
  // Connects a client and waits until the destination took the relay's connection.
  bool connectPair(int& clientFd, int& destFd);
  CTcpStreamPair* pairOf(int clientFd);  // by the client's local port
};

}  // namespace nettest
