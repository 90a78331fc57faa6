// The outgoing side of a pair: names looked up while the loop goes on, addresses tried in
// order, and the bound on a connect that never completes.
#include "LocalNameServer.h"
#include "NetHarness.h"
#include "net/Resolver.h"

using namespace nettest;

namespace {

// Points the loop's resolver at a name server of the test's own for the test's lifetime.
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
  StdoutCapture quiet;
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
  EXPECT_TRUE(got[0] == "via name 0" || got[0] == "via name 1") << got[0];
  EXPECT_NE(got[0], got[1]);
  EXPECT_GE(secondsSince(asked), 1.9);
  EXPECT_EQ(names.questions("late.relvane.test"), 2) << "one A and one AAAA question for both clients";
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
  EXPECT_TRUE(waitFor(nullptr, 10s, [&] { EXPECT_TRUE(waitPeerClosed(c)); }));
  EXPECT_EQ(unknown.repeater.pairTableSize(), 0);
  EXPECT_NE(trace.text().find("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=nowhere.relvane.test, port=9 err=22\n"),
            std::string::npos);
  closeFd(c);

  Relay twoAddresses(128, "two.relvane.test", second.port);
  int d;
  std::string got;
  c = twoAddresses.client();
  EXPECT_TRUE(runWithPeer([&] { d = second.acceptOne(), sendAll(c, "x"), got = recvExact(d, 1); }));
  EXPECT_EQ(got, "x");
  ASSERT_TRUE(twoAddresses.pairOf(c));
  EXPECT_EQ(twoAddresses.pairOf(c)->connectStream->peerAddress, "127.0.0.2");

  LoopbackListener v6("::1");
  if (v6.fd < 0) GTEST_SKIP() << "no IPv6 loopback here";
  Relay literal(128, "::1", v6.port);
  int c6 = literal.client(), d6 = -1;
  EXPECT_TRUE(runWithPeer([&] { d6 = v6.acceptOne(), sendAll(c6, "six"), got = recvExact(d6, 3); }));
  EXPECT_EQ(got, "six");
  ASSERT_TRUE(waitFor([&] { return !literal.counts.seen.empty(); }));
  EXPECT_EQ(literal.pairOf(c6)->connectStream->peerAddress, "::1");
  EXPECT_EQ(literal.pairOf(c6)->connectStream->peerPort, v6.port);
  for (int fd : {c, d, c6, d6}) ::close(fd);
}

// A destination that never answers the connect: the client is reset near the bound.
TEST(Outgoing, ConnectTimeoutClosesTheClientNearTheBound) {
  FullBacklog silent;
  StdoutCapture quiet;
  Relay r(128, "127.0.0.1", silent.port);
  r.repeater.setConnectTimeout(1);
  const auto start = Clock::now();
  int c = r.client();
  EXPECT_TRUE(waitFor(nullptr, 10s, [&] { EXPECT_TRUE(waitPeerClosed(c, 10s)); }));
  EXPECT_GE(secondsSince(start), 0.9);
  EXPECT_LT(secondsSince(start), 4.0);
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  EXPECT_EQ(r.counts.endings, (std::vector<std::pair<PairEnding, int>>{{PairEnding::ConnectFailed, ETIMEDOUT}}));
  closeFd(c);
}

// Request ids are each resolver's own: a cancel through one resolver leaves another's request
// with the same id waiting, and its answer still comes.
TEST(Outgoing, CancelReachesOnlyTheResolverThatMadeTheRequest) {
  LocalNameServer server;
  server.set("one.relvane.test", {{"127.0.0.1"}, {}, 0ms});
  net::Resolver first(loop()), second(loop());
  ASSERT_TRUE(first.setServers(server.address()) && second.setServers(server.address()));
  int answered[2] = {0, 0};
  net::Resolver::Request a = first.lookup("one.relvane.test", [&](int, const auto&) { ++answered[0]; });
  net::Resolver::Request b = second.lookup("one.relvane.test", [&](int err, const auto& found) {
    answered[1] += err == 0 && !found.empty();
  });
  a.cancel();
  EXPECT_TRUE(b.pending());
  EXPECT_TRUE(waitFor([&] { return answered[1] == 1; }));
  loop().runFor(50ms);
  EXPECT_EQ(answered[0], 0);
}
