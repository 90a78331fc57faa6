#include "NetHarness.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "net/AsyncSocket.h"

namespace nettest {

net::EventLoop& loop() { return net::EventLoop::current(); }

bool loopQuiet() {
  pollfd p{loop().fd(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 0;
}

StdoutCapture::StdoutCapture(bool keep) {
  std::fflush(stdout);
  saved_ = ::dup(1);
  int fd = -1;
  if (keep) {
    char name[] = "/tmp/relvane-trace-XXXXXX";
    fd = ::mkstemp(name);
    path_ = name;
  } else {
    fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  }
  ::dup2(fd, 1);
  ::close(fd);
}

StdoutCapture::~StdoutCapture() {
  std::fflush(stdout);
  ::dup2(saved_, 1);
  ::close(saved_);
  if (!path_.empty()) ::unlink(path_.c_str());
}

std::string StdoutCapture::text() const {
  std::fflush(stdout);
  std::ifstream in(path_, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool runWithPeer(const std::function<void()>& work, std::chrono::milliseconds timeout) {
  std::atomic<bool> done{false};
  std::thread peer([&] {
    work();
    done = true;
  });
  bool ok = loop().runUntil([&] { return done.load(); }, timeout);
  peer.join();  // the peer's own calls are bounded in time
  return ok;
}

int acceptWhileRunning(int listenFd, std::chrono::milliseconds timeout) {
  int fd = -1;
  loop().runUntil([&] { return (fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0; },
                  timeout);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

void abortFd(int& fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  testsupport::closeFd(fd);
}

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

Relay::Relay(int bufferKB, const std::string& host, int destPort) {
  socketInit();
  repeater.setListener(&counts);
  repeater.setBufferSize(bufferKB);
  for (int attempt = 0; attempt < 5 && !repeater.isListening(); ++attempt) {
    port = testsupport::freePort();
    repeater.start(port, host, destPort ? destPort : dest.port);
  }
}

bool Relay::connectPair(int& clientFd, int& destFd) {
  clientFd = client();
  destFd = acceptWhileRunning(dest.fd);
  return clientFd >= 0 && destFd >= 0 &&
         loop().runUntil([&] { auto* p = pairOf(clientFd); return p && p->connectStream->connectState == STREAM_CONNECTED; }, 5s);
}

CTcpStreamPair* Relay::pairOf(int clientFd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(clientFd, reinterpret_cast<sockaddr*>(&a), &len);
  int position = 0;
  while (CTcpStreamPair* p = repeater.getNextPair(position))
    if (p->acceptStream->peerPort == ntohs(a.sin_port)) return p;
  return nullptr;
}

}  // namespace nettest
