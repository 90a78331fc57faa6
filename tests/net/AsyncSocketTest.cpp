// The socket layer's event contract, on real loopback sockets.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>

#include "NetHarness.h"

using namespace nettest;

namespace {

constexpr long kNoRead = CAsyncSocket::FD_ALL & ~CAsyncSocket::FD_READ;

struct Probe : CAsyncSocket {
  int receives = 0, sends = 0, urgent = 0, closes = 0, lastError = -1;
  std::string in;
  bool eof = false;
  std::function<void(Probe&)> onReceive;

  void drain() {
    char b[65536];
    int n;
    while ((n = Receive(b, sizeof b)) > 0) in.append(b, n);
    if (n == 0 && !eof) eof = true, AsyncSelect(kNoRead);
  }
  void OnReceive(int) override { ++receives, onReceive ? onReceive(*this) : drain(); }
  void OnSend(int) override { ++sends; }
  void OnOutOfBandData(int) override { ++urgent; }
  void OnClose(int err) override { ++closes, lastError = err; }
};

// A probe connected to the listener (peerFd: the listener's end), after its first write event.
std::unique_ptr<Probe> connected(const LoopbackListener& l, int& peerFd) {
  auto p = std::make_unique<Probe>();
  EXPECT_TRUE(p->Create() && (p->Connect("127.0.0.1", l.port) || CAsyncSocket::GetLastError() == EWOULDBLOCK));
  peerFd = l.acceptOne();
  EXPECT_TRUE(waitFor([&] { return p->sends == 1; }));
  return p;
}

}  // namespace

// Handlers that change the set inside a batch: the first destroys a socket whose event is still
// queued and runs the loop (as a modal box would); in that nested batch the first handler closes
// another socket whose event is still queued, and a fresh socket takes its number at once.
// Neither closed socket gets a later call, nor the fresh one its predecessor's event.
TEST(AsyncSocket, HandlersMayCloseReuseAndDispatchInsideABatch) {
  LoopbackListener l;
  int peers[4], reusedFd = -1, closed = 0;
  std::unique_ptr<Probe> probes[4], fresh;
  auto handler = [&](Probe& self) {
    self.drain();
    for (auto& p : probes) {
      if (!p || p.get() == &self || !p->in.empty()) continue;  // one whose event has not run yet
      if (closed++ == 0) return p.reset(), loop().dispatch();
      reusedFd = p->Detach();  // a close inside a round waits for its end: free the number now
      ::close(reusedFd), p.reset();
      fresh = std::make_unique<Probe>();
      fresh->Create();  // takes the lowest free number: the one just closed
      return (void)fresh->Connect("127.0.0.1", l.port);
    }
  };
  for (int i = 0; i < 4; ++i) probes[i] = connected(l, peers[i]);
  for (int i = 0; i < 4; ++i) {
    probes[i]->onReceive = handler;
    ASSERT_EQ(::send(peers[i], "q", 1, 0), 1);
    ASSERT_TRUE(readableWithin(probes[i]->handle(), 2s));
  }
  loop().dispatch();  // all four events in one batch
  loop().runFor(50ms);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(std::tuple(fresh->handle(), fresh->receives, closed), std::tuple(reusedFd, 0, 2));
  for (auto& p : probes) EXPECT_TRUE(!p || p->in == "q");
  for (int fd : peers) ::close(fd);
}

// A hang-up, a reset and urgent data each reach their handler once, and nothing spins on them;
// SIGPIPE never fires.
TEST(AsyncSocket, HangUpResetAndUrgentDataDoNotSpinNorRaiseSigpipe) {
  LoopbackListener l;
  int peer, resetPeer, urgentPeer;
  auto p = connected(l, peer), r = connected(l, resetPeer), u = connected(l, urgentPeer);
  for (Probe* x : {p.get(), r.get(), u.get()}) x->AsyncSelect(kNoRead);
  ASSERT_EQ(::send(peer, "tail", 4, 0), 4);
  p->ShutDown(SHUT_WR);
  ::close(peer);  // both directions shut: epoll reports a hang-up whatever the interest
  resetClose(resetPeer);
  ASSERT_EQ(::send(urgentPeer, "ab", 2, 0) + ::send(urgentPeer, "!", 1, MSG_OOB) + ::send(urgentPeer, "cd", 2, 0), 5);
  ASSERT_TRUE(waitFor([&] { return r->closes == 1 && u->urgent == 1; }));
  loop().runFor(100ms);
  EXPECT_TRUE(loopQuiet());
  EXPECT_EQ(std::pair(p->receives, r->lastError), std::pair(0, ECONNRESET));
  ASSERT_TRUE(socketInit());
  EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_IGN);                            // even with the default action back,
  EXPECT_TRUE(r->Send("x", 1) == -1 && CAsyncSocket::GetLastError() == EPIPE);  // a send to the reset peer only fails
  std::signal(SIGPIPE, SIG_IGN);

  for (Probe* x : {p.get(), u.get()}) x->AsyncSelect(CAsyncSocket::FD_ALL);  // the parked hang-up comes back
  ASSERT_TRUE(waitFor([&] { return p->eof && u->in == "abcd"; }));
  EXPECT_EQ(p->in, "tail");
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet() && r->closes + u->urgent == 2) << r->closes << u->urgent;
  ::close(urgentPeer);
}

TEST(AsyncSocket, PortsOutOfRangeFail) {
  for (int port : {-1, 65536}) {
    Probe p;
    EXPECT_TRUE(!p.Create(port) && CAsyncSocket::GetLastError() == EINVAL) << port;
    ASSERT_TRUE(p.Create());
    EXPECT_TRUE(!p.Connect("127.0.0.1", port) && CAsyncSocket::GetLastError() == EINVAL) << port;
  }
}

// Lines are skipped only while standard output is the null device, never after it moves on.
TEST(Trace, FollowsStandardOutputAwayFromTheNullDevice) {
  const int saved = (std::fflush(stdout), ::dup(1)), null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1), traceTargetChanged(), trace("discarded\n");
  {
    StdoutCapture capture;  // points fd 1 at a file and says so
    trace("kept %d\n", 1);
    EXPECT_EQ(capture.text(), "kept 1\n");
  }
  ::dup2(saved, 1), traceTargetChanged(), ::close(null), ::close(saved);
}
