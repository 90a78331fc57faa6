// The outgoing side of a pair: names looked up while the loop goes on, addresses tried in
// order, and the bound on a connect that never completes.
#include "LocalNameServer.h"
#include "NetHarness.h"
#include "net/Resolver.h"

using namespace nettest;
using namespace testsupport;

namespace {

// Points the thread's resolver at a name server of the test's own for the test's lifetime.
struct TestNames : LocalNameServer {
  TestNames() { EXPECT_TRUE(loop().resolver().setServers(address())); }
  ~TestNames() { loop().resolver().setServers(""); }
};

}  // namespace

// Two clients wait for a name whose answer takes 2 s; meanwhile a pair to a literal address
// keeps relaying and the loop keeps dispatching. Both waiting clients share one query.
TEST(Outgoing, LateAnswerStopsNothingElseAndIsShared) {
  TestNames names;
  names.set("late.relvane.test", {{"127.0.0.1"}, {}, 2000ms});
  StdoutCapture trace;
  Relay byName(128, "late.relvane.test"), byAddress;
  int c0, d0;
  ASSERT_TRUE(byAddress.connectPair(c0, d0));

  const auto asked = Clock::now();
  int waiting[2] = {byName.client(), byName.client()};
  int echoes = 0;
  double longestEcho = 0;
  EXPECT_TRUE(runWithPeer([&] {
    while (secondsSince(asked) < 1.5) {  // the relay must answer every round trip promptly
      const auto t = Clock::now();
      if (!sendAll(c0, "ping") || recvExact(d0, 4, 2s) != "ping") return;
      longestEcho = std::max(longestEcho, secondsSince(t));
      ++echoes;
    }
  }, 10s));
  EXPECT_GT(echoes, 10);
  EXPECT_LT(longestEcho, 0.5);
  EXPECT_EQ(byName.counts.seen, std::vector<int>{});  // still waiting for the name

  std::string got[2];
  EXPECT_TRUE(runWithPeer([&] {
    for (int i = 0; i < 2; ++i) {
      sendAll(waiting[i], "via name " + std::to_string(i));
      int d = byName.dest.acceptOne(10s);
      got[i] = recvExact(d, 10, 5s);
      closeFd(d);
    }
  }, 20s));
  const double waited = secondsSince(asked);
  EXPECT_TRUE(got[0] == "via name 0" || got[0] == "via name 1") << got[0];
  EXPECT_NE(got[0], got[1]);
  EXPECT_GE(waited, 1.9);
  EXPECT_EQ(names.questions("late.relvane.test"), 2) << "one A and one AAAA question for both clients";
  std::fprintf(stderr, "[ measured ] lookup answered after %.2f s; %d round trips meanwhile, longest %.1f ms\n", waited,
              echoes, longestEcho * 1000);
  for (int fd : {c0, d0, waiting[0], waiting[1]}) ::close(fd);
}

// A name without an address fails the pair when the answer comes, as it always has; a name's
// first address refuses and the next one serves; a literal IPv6 address needs no lookup.
TEST(Outgoing, NamesFailOrServeByTheirAddressesInOrderAndIPv6Works) {
  TestNames names;
  LoopbackListener second("127.0.0.2");  // nothing listens on 127.0.0.1 at its port
  ASSERT_GE(second.fd, 0);
  names.set("two.relvane.test", {{"127.0.0.1", "127.0.0.2"}, {}, 0ms});
  StdoutCapture trace;
  Relay unknown(128, "nowhere.relvane.test", 9);
  int c = unknown.client();
  bool closed = false;
  EXPECT_TRUE(runWithPeer([&] { closed = waitPeerClosed(c); }));
  EXPECT_TRUE(closed);
  EXPECT_EQ(unknown.repeater.pairTableSize(), 0);
  EXPECT_NE(trace.text().find("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=nowhere.relvane.test, port=9 err=22\n"),
            std::string::npos);
  closeFd(c);

  Relay twoAddresses(128, "two.relvane.test", second.port);
  c = twoAddresses.client();
  int d = -1;
  std::string got;
  EXPECT_TRUE(runWithPeer([&] { d = second.acceptOne(), sendAll(c, "x"), got = recvExact(d, 1); }));
  EXPECT_EQ(got, "x");
  EXPECT_NE(trace.text().find("CTcpRepeater::connectNext() address=127.0.0.1 err=111, trying the next\n"),
            std::string::npos);

  LoopbackListener v6("::1");
  if (v6.fd < 0) GTEST_SKIP() << "no IPv6 loopback here";
  Relay literal(128, "::1", v6.port);
  int c6 = literal.client(), d6 = -1;
  EXPECT_TRUE(runWithPeer([&] { d6 = v6.acceptOne(), sendAll(c6, "six"), got = recvExact(d6, 3); }));
  EXPECT_EQ(got, "six");
  ASSERT_TRUE(loop().runUntil([&] { return !literal.counts.seen.empty(); }, 5s));
  CTcpStreamPair* p = literal.pairOf(c6);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->connectStream->peerAddress, "::1");
  EXPECT_EQ(p->connectStream->peerPort, v6.port);
  for (int fd : {c, d, c6, d6}) ::close(fd);
}

// A destination that never answers the connect: the client is reset near the bound.
TEST(Outgoing, ConnectTimeoutClosesTheClientNearTheBound) {
  FullBacklog silent;
  StdoutCapture trace;
  Relay r(128, "127.0.0.1", silent.port);
  r.repeater.setConnectTimeout(1);
  const auto start = Clock::now();
  int c = r.client();
  bool closed = false;
  EXPECT_TRUE(runWithPeer([&] { closed = waitPeerClosed(c, 10s); }));
  const double waited = secondsSince(start);
  EXPECT_TRUE(closed);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 4.0);
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  std::string t = trace.text();
  EXPECT_NE(t.find("CTcpRepeater::connectTimeout() host=127.0.0.1, port=" + std::to_string(silent.port)), std::string::npos);
  EXPECT_NE(t.find("kind=connectSocket, err=110\n"), std::string::npos);
  std::fprintf(stderr, "[ measured ] connect timeout of 1 s closed the client after %.2f s\n", waited);
  closeFd(c);
}
