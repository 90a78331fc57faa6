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

// Names are looked up while the loop goes on: two clients wait for a name whose answer takes
// 2 s and share one query, while a pair to a literal address keeps relaying. A name without an
// address fails its pair; a name's first address refuses and the next one serves; a literal
// IPv6 address needs no lookup.
TEST(Outgoing, NamesAreLookedUpOffTheLoopAndTheirAddressesTriedInOrder) {
  TestNames names;
  LoopbackListener second("127.0.0.2"), v6("::1");  // nothing listens on 127.0.0.1 at second's port
  ASSERT_GE(second.fd, 0);
  names.set("late.relvane.test", {{"127.0.0.1"}, 2000ms});
  names.set("two.relvane.test", {{"127.0.0.1", "127.0.0.2"}, 0ms});
  StdoutCapture trace;
  Relay late(128, "late.relvane.test"), literal, unknown(128, "nowhere.relvane.test", 9);
  int c0, d0, d = -1;
  ASSERT_TRUE(literal.connectPair(c0, d0));
  const auto asked = Clock::now();
  int waiting[2] = {late.client(), late.client()}, c = unknown.client();
  ASSERT_TRUE(waitFor([&] { return late.repeater.pairTableSize() == 2; }));
  std::string got[2];
  EXPECT_TRUE(runWithPeer([&] { sendAll(c0, "ping"), got[0] = recvExact(d0, 4, 2s), waitPeerClosed(c); }));
  EXPECT_EQ(got[0], "ping");
  EXPECT_TRUE(late.counts.seen.empty()) << "relayed while the name was still being looked up";
  EXPECT_EQ(unknown.repeater.pairTableSize(), 0);
  EXPECT_NE(trace.text().find("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=nowhere.relvane.test, port=9 err=22\n"),
            std::string::npos);
  EXPECT_EQ(unknown.counts.failures, std::vector<std::string>{"Domain name not found"}) << "the resolver's own reason";

  EXPECT_TRUE(runWithPeer([&] {
    for (int i = 0; i < 2; ++i) {
      sendAll(waiting[i], "via name " + std::to_string(i));
      int fd = late.dest.acceptOne(10s);
      got[i] = recvExact(fd, 10, 5s);
      closeFd(fd);
    }
  }, 20s));
  EXPECT_TRUE(got[0] == "via name 0" || got[0] == "via name 1") << got[0];
  EXPECT_NE(got[0], got[1]);
  EXPECT_GE(secondsSince(asked), 1.9);
  EXPECT_EQ(names.questions("late.relvane.test"), 2) << "one A and one AAAA question for both clients";

  Relay two(128, "two.relvane.test", second.port);
  closeFd(c), c = two.client();
  EXPECT_TRUE(runWithPeer([&] { d = second.acceptOne(), sendAll(c, "x"), got[0] = recvExact(d, 1); }));
  EXPECT_EQ(got[0], "x");
  ASSERT_TRUE(two.pairOf(c));
  EXPECT_EQ(two.pairOf(c)->connectStream->peerAddress, "127.0.0.2");
  for (int fd : {c0, d0, waiting[0], waiting[1], c, d}) ::close(fd);

  if (v6.fd < 0) GTEST_SKIP() << "no IPv6 loopback here";
  Relay six(128, "::1", v6.port);
  c = six.client();
  EXPECT_TRUE(runWithPeer([&] { d = v6.acceptOne(), sendAll(c, "six"), got[0] = recvExact(d, 3); }));
  EXPECT_EQ(got[0], "six");
  ASSERT_TRUE(waitFor([&] { return !six.counts.seen.empty(); }));
  EXPECT_EQ(six.pairOf(c)->connectStream->peerAddress, "::1");
  EXPECT_EQ(six.pairOf(c)->connectStream->peerPort, v6.port);
  closeFd(c), closeFd(d);
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
  server.set("one.relvane.test", {{"127.0.0.1"}, 0ms});
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
