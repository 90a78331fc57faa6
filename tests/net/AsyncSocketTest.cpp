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
  EXPECT_TRUE(p->Create());
  EXPECT_TRUE(p->Connect("127.0.0.1", l.port) || CAsyncSocket::GetLastError() == EWOULDBLOCK);
  peerFd = l.acceptOne();
  EXPECT_TRUE(waitFor([&] { return p->sends == 1; }));
  return p;
}

}  // namespace

TEST(AsyncSocket, ClosedSocketGetsNoLaterCallEvenWhenItsNumberIsReused) {
  LoopbackListener l;
  int pa, pb, reusedFd = -1;
  std::unique_ptr<Probe> a = connected(l, pa), b = connected(l, pb), fresh;
  a->onReceive = b->onReceive = [&](Probe& self) {
    std::unique_ptr<Probe>& other = &self == a.get() ? b : a;
    reusedFd = other->Detach();  // a close inside a round waits for its end: free the number now
    ::close(reusedFd);
    other.reset();
    fresh = std::make_unique<Probe>();
    fresh->Create();  // takes the lowest free number: the one just closed
    fresh->Connect("127.0.0.1", l.port);
    self.drain();
  };
  ASSERT_EQ(::send(pa, "x", 1, 0) + ::send(pb, "y", 1, 0), 2);
  ASSERT_TRUE(readableWithin(a->handle(), 2s) && readableWithin(b->handle(), 2s));
  loop().dispatch();  // both events in one batch
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->handle(), reusedFd);
  EXPECT_EQ(fresh->receives, 0);
  EXPECT_EQ((a ? a : b)->receives, 1);
  ::close(pa), ::close(pb);
}

// A hang-up, a reset and urgent data each reach their handler once, and nothing spins on them.
TEST(AsyncSocket, HangUpResetAndUrgentDataDoNotSpin) {
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
  EXPECT_EQ(p->receives, 0);
  EXPECT_EQ(r->lastError, ECONNRESET);

  p->AsyncSelect(CAsyncSocket::FD_ALL);  // the parked hang-up comes back with the bytes
  u->AsyncSelect(CAsyncSocket::FD_ALL);
  ASSERT_TRUE(waitFor([&] { return p->eof && u->in == "abcd"; }));
  EXPECT_EQ(p->in, "tail");
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet());
  EXPECT_EQ(r->closes + u->urgent, 2);
  ::close(urgentPeer);
}

TEST(AsyncSocket, PortsOutOfRangeFailAndSigpipeNeverFires) {
  for (int port : {-1, 65536}) {
    Probe p;
    EXPECT_FALSE(p.Create(port));
    EXPECT_EQ(CAsyncSocket::GetLastError(), EINVAL);
    ASSERT_TRUE(p.Create());
    EXPECT_FALSE(p.Connect("127.0.0.1", port));
    EXPECT_EQ(CAsyncSocket::GetLastError(), EINVAL);
  }
  ASSERT_TRUE(socketInit());
  EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_IGN);
  LoopbackListener l;  // even with the default action back, a send to a reset peer only fails
  int peer;
  auto q = connected(l, peer);
  resetClose(peer);
  ASSERT_TRUE(waitFor([&] { return q->receives == 1; }));
  EXPECT_EQ(q->Send("x", 1), -1);
  EXPECT_EQ(CAsyncSocket::GetLastError(), EPIPE);
  std::signal(SIGPIPE, SIG_IGN);
}

// A handler that runs the loop (as a modal box would), and a later handler of the same batch
// that destroys a socket whose event is still queued.
TEST(AsyncSocket, NestedDispatchInsideAHandlerIsSafe) {
  LoopbackListener l;
  int peers[3], destroyed = -1;
  std::unique_ptr<Probe> probes[3];
  for (int i = 0; i < 3; ++i) probes[i] = connected(l, peers[i]);
  bool nested = false;
  auto handler = [&](Probe& self) {
    self.drain();
    if (nested) {
      for (int i = 0; i < 3 && destroyed < 0; ++i)  // the next handler destroys one not yet run
        if (probes[i] && probes[i].get() != &self && probes[i]->in.empty()) destroyed = i, probes[i].reset();
      return;
    }
    nested = true;
    loop().dispatch();
  };
  for (int i = 0; i < 3; ++i) {
    probes[i]->onReceive = handler;
    ASSERT_EQ(::send(peers[i], "q", 1, 0), 1);
    ASSERT_TRUE(readableWithin(probes[i]->handle(), 2s));
  }
  loop().dispatch();
  loop().runFor(50ms);
  ASSERT_GE(destroyed, 0);
  for (auto& p : probes) EXPECT_TRUE(!p || p->in == "q");
  for (int fd : peers) ::close(fd);
}

// Lines are skipped only while standard output is the null device, never after it moves on.
TEST(Trace, FollowsStandardOutputAwayFromTheNullDevice) {
  std::fflush(stdout);
  const int saved = ::dup(1), null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1), traceTargetChanged(), trace("discarded\n");
  {
    StdoutCapture capture;  // points fd 1 at a file and says so
    trace("kept %d\n", 1);
    EXPECT_EQ(capture.text(), "kept 1\n");
  }
  ::dup2(saved, 1), traceTargetChanged(), ::close(null), ::close(saved);
}
