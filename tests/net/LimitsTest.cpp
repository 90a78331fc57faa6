// A slot's limits over real sockets: the idle timeout, MAXCONN with a client waiting in the
// listen queue, keepalive on both sockets, and the outgoing source address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "NetHarness.h"

using namespace nettest;

namespace {

int intOption(int fd, int level, int option) {
  int value = -1;
  socklen_t length = sizeof value;
  return ::getsockopt(fd, level, option, &value, &length) == 0 ? value : -1;
}

std::string peerAddressOf(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  char text[INET_ADDRSTRLEN] = "";
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return text;
}

}  // namespace

TEST(Limits, IdleTimeoutClosesTheSilentPairWhileATricklingOneLives) {
  Relay r;
  net::RelayOptions options;
  options.idleTimeout = 1;
  r.repeater.setOptions(options);
  int silent = -1, silentDest = -1, trickle = -1, trickleDest = -1;
  ASSERT_TRUE(r.connectPair(silent, silentDest) && r.connectPair(trickle, trickleDest));
  bool closed = false, reset = true;
  std::string trickled;
  EXPECT_TRUE(runWithPeer([&] {
    for (int i = 0; i < 8; ++i) sendAll(trickle, "."), trickled += recvExact(trickleDest, 1, 1s), usleep(250000);
    receive(silent, SIZE_MAX, 3s, &closed, &reset);
  }));
  EXPECT_EQ(trickled, "........");
  EXPECT_TRUE(closed && !reset) << "closed in order";
  EXPECT_TRUE(waitPeerClosed(silentDest, 1s));
  ASSERT_EQ(r.counts.endings.size(), 1u);
  EXPECT_EQ(r.counts.endings[0].first, PairEnding::IdleTimedOut);
  EXPECT_NE(r.pairOf(trickle), nullptr);
  for (int* fd : {&silent, &silentDest, &trickle, &trickleDest}) closeFd(*fd);
}

// Two pairs fill MAXCONN=2: the third client waits in the listen queue and is served once one
// ends. The pairs' sockets probe after KEEPALIVE seconds, and the destination sees SOURCEADDRESS.
TEST(Limits, MaxConnKeepaliveAndTheSourceAddress) {
  Relay r;
  net::RelayOptions options;
  options.maxConn = 2;
  options.keepAlive = 7;
  r.repeater.setOptions(options);
  r.repeater.setConnectBindAddress(1, "127.0.0.2");
  r.repeater.retarget("127.0.0.1", r.dest.port);
  int c1 = -1, d1 = -1, c2 = -1, d2 = -1, d3 = -1;
  ASSERT_TRUE(r.connectPair(c1, d1) && r.connectPair(c2, d2));
  const CTcpStreamPair* pair = r.pairOf(c1);
  for (const CTcpSockStream* s : {pair->acceptStream.get(), pair->connectStream.get()}) {
    EXPECT_EQ(intOption(s->handle(), SOL_SOCKET, SO_KEEPALIVE), 1) << s->kind;
    EXPECT_EQ(intOption(s->handle(), IPPROTO_TCP, TCP_KEEPIDLE), 7) << s->kind;
    EXPECT_EQ(intOption(s->handle(), IPPROTO_TCP, TCP_KEEPCNT), net::kKeepAliveProbes) << s->kind;
  }
  EXPECT_EQ(peerAddressOf(d1), "127.0.0.2");
  int c3 = r.client();  // the kernel completes it; the relay leaves it queued
  loop().runFor(300ms);
  EXPECT_TRUE(r.repeater.livePairs() == 2 && r.pairOf(c3) == nullptr);
  closeFd(c1), closeFd(d1);
  std::string got;
  EXPECT_TRUE(runWithPeer([&] { d3 = r.dest.acceptOne(5s), sendAll(c3, "third"), got = recvExact(d3, 5); }));
  EXPECT_EQ(got, "third");
  for (int* fd : {&c2, &d2, &c3, &d3}) closeFd(*fd);
}
