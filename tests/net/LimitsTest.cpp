// A slot's limits over real sockets: MAXCONN with a client waiting in the listen queue, the idle
// timeout that frees its place, keepalive on both sockets, and the outgoing source address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "NetHarness.h"

using namespace nettest;

namespace {

// SO_KEEPALIVE, TCP_KEEPIDLE and TCP_KEEPCNT of fd.
std::vector<int> keepalive(int fd) {
  std::vector<int> values;
  for (auto [level, option] :
       {std::pair(SOL_SOCKET, SO_KEEPALIVE), {IPPROTO_TCP, TCP_KEEPIDLE}, {IPPROTO_TCP, TCP_KEEPCNT}}) {
    socklen_t length = sizeof(int);
    values.push_back(-1), ::getsockopt(fd, level, option, &values.back(), &length);
  }
  return values;
}

}  // namespace

// Two pairs fill MAXCONN=2, one silent and one trickling: the third client waits in the listen
// queue until the idle timeout closes the silent pair (in order), then is served.
TEST(Limits, MaxConnIdleTimeoutKeepaliveAndTheSourceAddress) {
  Relay r;
  net::RelayOptions options;
  options.maxConn = 2, options.idleTimeout = 1, options.keepAlive = 7;
  r.repeater.setOptions(options);
  r.repeater.setConnectBindAddress(1, "127.0.0.2");
  r.repeater.retarget("127.0.0.1", r.dest.port);
  int silent = -1, silentDest = -1, trickle = -1, trickleDest = -1, third = -1;
  ASSERT_TRUE(r.connectPair(silent, silentDest) && r.connectPair(trickle, trickleDest));
  const CTcpStreamPair* pair = r.pairOf(silent);
  for (const CTcpSockStream* s : {pair->acceptStream.get(), pair->connectStream.get()})
    EXPECT_EQ(keepalive(s->handle()), (std::vector<int>{1, 7, net::kKeepAliveProbes})) << s->kind;
  sockaddr_in seen{};
  socklen_t length = sizeof seen;
  ::getpeername(silentDest, reinterpret_cast<sockaddr*>(&seen), &length);
  EXPECT_EQ(seen.sin_addr.s_addr, ::inet_addr("127.0.0.2")) << "the destination sees the source address";

  third = r.client();  // the kernel completes it; the relay leaves it queued
  loop().runFor(300ms);
  EXPECT_TRUE(r.repeater.livePairs() == 2 && r.pairOf(third) == nullptr);
  bool closed = false, reset = true;
  std::string trickled;
  EXPECT_TRUE(runWithPeer([&] {
    for (int i = 0; i < 4; ++i) sendAll(trickle, "."), trickled += recvExact(trickleDest, 1, 1s), usleep(250000);
    receive(silent, SIZE_MAX, 3s, &closed, &reset);
  }));
  EXPECT_EQ(trickled, "....");
  EXPECT_TRUE(closed && !reset) << "closed in order";
  EXPECT_TRUE(waitPeerClosed(silentDest, 1s));
  EXPECT_EQ(r.counts.endings, (std::vector<std::pair<PairEnding, int>>{{PairEnding::IdleTimedOut, 0}}));
  EXPECT_NE(r.pairOf(trickle), nullptr) << "the trickling pair lives";
  int thirdDest = -1;
  std::string got;
  EXPECT_TRUE(
      runWithPeer([&] { thirdDest = r.dest.acceptOne(5s), sendAll(third, "third"), got = recvExact(thirdDest, 5); }));
  EXPECT_EQ(got, "third");
  for (int* fd : {&silent, &silentDest, &trickle, &trickleDest, &third, &thirdDest}) closeFd(*fd);
}
