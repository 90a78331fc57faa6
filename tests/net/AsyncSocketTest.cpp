// The socket layer's event contract, on real loopback sockets.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NetHarness.h"
#include "net/AsyncSocket.h"

using namespace nettest;
using testsupport::LoopbackListener;

namespace {

struct Probe : CAsyncSocket {
  int receives = 0, sends = 0, urgent = 0, connects = 0, closes = 0, lastError = -1;
  std::string in;
  bool eof = false;
  std::function<void(Probe&)> onReceive;
  std::unique_ptr<Probe> accepted;

  void drain() {
    char b[65536];
    int n;
    while ((n = Receive(b, sizeof b)) > 0) in.append(b, n);
    if (n == 0 && !eof) {
      eof = true;
      AsyncSelect(FD_ALL & ~FD_READ);
    }
  }
  void OnReceive(int) override {
    ++receives;
    onReceive ? onReceive(*this) : drain();
  }
  void OnSend(int) override { ++sends; }
  void OnOutOfBandData(int) override { ++urgent; }
  void OnConnect(int err) override { ++connects, lastError = err; }
  void OnClose(int err) override { ++closes, lastError = err; }
  void OnAccept(int) override {
    accepted = std::make_unique<Probe>();
    Accept(*accepted);
  }
};

// A probe connected to the listener; peerFd is the listener's end. Waits for its first write event.
std::unique_ptr<Probe> connected(const LoopbackListener& l, int& peerFd) {
  auto p = std::make_unique<Probe>();
  EXPECT_TRUE(p->Create());
  EXPECT_TRUE(p->Connect("127.0.0.1", l.port) || CAsyncSocket::GetLastError() == EWOULDBLOCK);
  peerFd = l.acceptOne();
  EXPECT_TRUE(loop().runUntil([&] { return p->sends == 1; }, 5s));
  return p;
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 2000) == 1;
}

}  // namespace

TEST(AsyncSocket, ClosedSocketGetsNoLaterCallEvenWhenItsNumberIsReused) {
  LoopbackListener l;
  int pa, pb;
  std::unique_ptr<Probe> a = connected(l, pa), b = connected(l, pb), fresh;
  int reusedFd = -1;
  auto killOther = [&](Probe& self) {
    std::unique_ptr<Probe>& other = &self == a.get() ? b : a;
    reusedFd = other->handle();
    other.reset();
    fresh = std::make_unique<Probe>();
    fresh->Create();  // takes the lowest free number: the one just closed
    fresh->Connect("127.0.0.1", l.port);
    self.drain();
  };
  a->onReceive = b->onReceive = killOther;
  ASSERT_EQ(::send(pa, "x", 1, 0), 1);
  ASSERT_EQ(::send(pb, "y", 1, 0), 1);
  ASSERT_TRUE(readable(a->handle()) && readable(b->handle()));
  loop().dispatch();  // both events in one batch
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->handle(), reusedFd);
  EXPECT_EQ(fresh->receives, 0);
  EXPECT_EQ((a ? a : b)->receives, 1);
  ::close(pa), ::close(pb);
}

TEST(AsyncSocket, WriteEventOnlyAfterConnectAcceptAndRefusedBytes) {
  auto& lp = loop();
  Probe server;
  ASSERT_TRUE(server.Create(0, SOCK_STREAM, CAsyncSocket::FD_ALL, "127.0.0.1"));
  ASSERT_TRUE(server.Listen());
  std::string addr;
  int port = 0;
  ASSERT_TRUE(server.GetSockName(addr, port));
  int client = testsupport::connectLoopback(port);
  ASSERT_TRUE(lp.runUntil([&] { return server.accepted && server.accepted->sends == 1; }, 5s));
  Probe& acc = *server.accepted;
  lp.runFor(100ms);
  EXPECT_EQ(acc.sends, 1);
  EXPECT_TRUE(loopQuiet());

  std::string chunk(65536, 'z');
  std::size_t queued = 0;
  for (int i = 0, n = 0; i < 10000 && (n = acc.Send(chunk.data(), chunk.size())) > 0; ++i) queued += n;
  ASSERT_EQ(CAsyncSocket::GetLastError(), EWOULDBLOCK);
  lp.runFor(100ms);
  EXPECT_EQ(acc.sends, 1) << "no write event while the peer reads nothing";
  EXPECT_TRUE(loopQuiet());
  EXPECT_TRUE(runWithPeer([&] { testsupport::recvExact(client, queued); }));
  EXPECT_TRUE(lp.runUntil([&] { return acc.sends == 2; }, 5s));
  lp.runFor(50ms);
  EXPECT_EQ(acc.sends, 2);
  ::close(client);
}

TEST(AsyncSocket, HangUpResetAndUrgentDataDoNotSpin) {
  LoopbackListener l;
  int peer, resetPeer, urgentPeer;
  auto p = connected(l, peer), r = connected(l, resetPeer), u = connected(l, urgentPeer);
  // Both directions shut while read interest is off: epoll reports a hang-up regardless.
  for (Probe* x : {p.get(), r.get(), u.get()}) x->AsyncSelect(CAsyncSocket::FD_ALL & ~CAsyncSocket::FD_READ);
  ASSERT_EQ(::send(peer, "tail", 4, 0), 4);
  p->ShutDown(SHUT_WR);
  ::close(peer);
  abortFd(resetPeer);
  ASSERT_EQ(::send(urgentPeer, "ab", 2, 0), 2);
  ASSERT_EQ(::send(urgentPeer, "!", 1, MSG_OOB), 1);
  ASSERT_EQ(::send(urgentPeer, "cd", 2, 0), 2);
  ASSERT_TRUE(loop().runUntil([&] { return r->closes == 1 && u->urgent == 1; }, 5s));
  loop().runFor(100ms);
  EXPECT_TRUE(loopQuiet());
  EXPECT_EQ(p->receives, 0);
  EXPECT_EQ(r->lastError, ECONNRESET);
  EXPECT_EQ(r->closes, 1);
  EXPECT_EQ(u->urgent, 1);

  p->AsyncSelect(CAsyncSocket::FD_ALL);  // the parked hang-up is reported again with the bytes
  u->AsyncSelect(CAsyncSocket::FD_ALL);
  ASSERT_TRUE(loop().runUntil([&] { return p->eof && u->in == "abcd"; }, 5s));
  EXPECT_EQ(p->in, "tail");
  EXPECT_EQ(u->urgent, 1);
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet());
  ::close(urgentPeer);
}

TEST(AsyncSocket, NestedDispatchInsideAHandlerIsSafe) {
  LoopbackListener l;
  int peers[3];
  std::unique_ptr<Probe> probes[3];
  for (int i = 0; i < 3; ++i) probes[i] = connected(l, peers[i]);
  bool nested = false;
  int destroyed = -1;
  auto handler = [&](Probe& self) {
    self.drain();
    if (!nested) {
      nested = true;
      loop().dispatch();  // as a modal box would, from inside the handler
      return;
    }
    for (int i = 0; i < 3 && destroyed < 0; ++i)  // the second handler destroys someone else
      if (probes[i] && probes[i].get() != &self && probes[i]->in.empty()) destroyed = i, probes[i].reset();
  };
  for (auto& p : probes) p->onReceive = handler;
  for (int fd : peers) ASSERT_EQ(::send(fd, "q", 1, 0), 1);
  for (auto& p : probes) ASSERT_TRUE(readable(p->handle()));
  loop().dispatch();
  loop().runFor(50ms);
  ASSERT_GE(destroyed, 0);
  for (auto& p : probes) {
    if (p) {
      EXPECT_EQ(p->in, "q");
    }
  }
  for (int fd : peers) ::close(fd);
}

TEST(AsyncSocket, ConnectAndArgumentFailures) {
  Probe p;
  EXPECT_FALSE(p.Create(70000));
  EXPECT_EQ(CAsyncSocket::GetLastError(), EINVAL);
  EXPECT_FALSE(p.Create(0, SOCK_STREAM, CAsyncSocket::FD_ALL, "localhost"));
  EXPECT_EQ(CAsyncSocket::GetLastError(), EINVAL);
  LoopbackListener taken;
  EXPECT_FALSE(p.Create(taken.port, SOCK_STREAM, CAsyncSocket::FD_ALL, "127.0.0.1"));
  EXPECT_EQ(CAsyncSocket::GetLastError(), EADDRINUSE);
  EXPECT_EQ(p.handle(), -1);

  ASSERT_TRUE(p.Create());
  EXPECT_FALSE(p.Connect("127.0.0.1", -1));
  EXPECT_EQ(CAsyncSocket::GetLastError(), EINVAL);
  EXPECT_FALSE(p.Connect("relvane-test.invalid", 80));
  EXPECT_EQ(CAsyncSocket::GetLastError(), EINVAL);
  // A refusal comes at once or as the connect event, never both, and leaves nothing spinning.
  if (p.Connect("127.0.0.1", testsupport::freePort()) || CAsyncSocket::GetLastError() == EWOULDBLOCK) {
    ASSERT_TRUE(loop().runUntil([&] { return p.connects == 1; }, 5s));
    EXPECT_EQ(p.lastError, ECONNREFUSED);
  } else {
    EXPECT_EQ(CAsyncSocket::GetLastError(), ECONNREFUSED);
  }
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet());
  EXPECT_EQ(p.sends, 0);
}

TEST(AsyncSocket, InitIgnoresSigpipeAndRaisesTheDescriptorLimit) {
  ASSERT_TRUE(socketInit());
  struct sigaction now{};
  ::sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  rlimit lim{};
  ::getrlimit(RLIMIT_NOFILE, &lim);
  EXPECT_EQ(lim.rlim_cur, lim.rlim_max);

  // Even with the default action back, a send to a reset peer only fails.
  std::signal(SIGPIPE, SIG_DFL);
  LoopbackListener l;
  int peer;
  auto p = connected(l, peer);
  abortFd(peer);
  ASSERT_TRUE(loop().runUntil([&] { return p->receives == 1; }, 5s));  // the reset, read
  EXPECT_EQ(p->Send("x", 1), -1);
  EXPECT_EQ(CAsyncSocket::GetLastError(), EPIPE);
  std::signal(SIGPIPE, SIG_IGN);
}
