#include "NetHarness.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
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

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  saved_ = ::dup(1);
  char name[] = "/tmp/relvane-trace-XXXXXX";
  int fd = ::mkstemp(name);
  path_ = name;
  readFd_ = ::open(name, O_RDONLY | O_CLOEXEC);
  ::dup2(fd, 1);
  ::close(fd);
}

StdoutCapture::~StdoutCapture() {
  std::fflush(stdout);
  ::dup2(saved_, 1);
  ::close(saved_);
  if (::testing::Test::HasFailure()) {  // the failure messages went into the capture too
    std::string t = text();
    std::fprintf(stderr, "--- captured ---\n%s\n", t.substr(t.size() > 65536 ? t.size() - 65536 : 0).c_str());
  }
  ::unlink(path_.c_str());
  ::close(readFd_);
}

std::string StdoutCapture::text() const {
  std::fflush(stdout);
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = ::pread(readFd_, buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;) out.append(buf, n);
  return out;
}

bool runWithPeer(const std::function<void()>& work, std::chrono::milliseconds timeout) {
  std::atomic<bool> done{false};
  std::thread peer([&] { work(), done = true; });
  bool ok = loop().runUntil([&] { return done.load(); }, timeout);
  peer.join();  // the peer's own calls are bounded in time
  return ok;
}

int acceptWhileRunning(int listenFd, std::chrono::milliseconds timeout) {
  int fd = -1;
  loop().runUntil([&] {
    pollfd p{listenFd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
  }, timeout);
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
  for (char& c : s) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<char>(x);
  return s;
}

FullBacklog::FullBacklog() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  filler = testsupport::connectLoopback(port);  // the one connection backlog 0 queues
}

FullBacklog::~FullBacklog() { testsupport::closeFd(filler), testsupport::closeFd(fd); }

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
  return clientFd >= 0 && destFd >= 0 && loop().runUntil([&] {
    CTcpStreamPair* p = pairOf(clientFd);
    return p && p->connectStream->connectState == STREAM_CONNECTED;
  }, 5s);
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
