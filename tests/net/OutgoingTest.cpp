// The outgoing side of a pair: names looked up while the loop goes on, addresses tried in
// order, and the bound on a connect that never completes.
#include <tuple>

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
// IPv6 address needs no lookup. Request ids are each resolver's own: a cancel through one
// resolver leaves another's request with the same id waiting, and its answer still comes. A
// destination that never answers the connect: the client is reset once the bound has passed.
TEST(Outgoing, NamesAreLookedUpOffTheLoopAndTheirAddressesTriedInOrder) {
  TestNames names;
  LoopbackListener second("127.0.0.2"), v6("::1");  // nothing listens on 127.0.0.1 at second's port
  ASSERT_GE(second.fd, 0);
  names.set("late.relvane.test", {{"127.0.0.1"}, 2000ms});
  names.set("two.relvane.test", {{"127.0.0.1", "127.0.0.2"}, 0ms});
  net::Resolver one(loop()), other(loop());
  ASSERT_TRUE(one.setServers(names.address()) && other.setServers(names.address()));
  int answered[2] = {0, 0};
  net::Resolver::Request a = one.lookup("two.relvane.test", [&](int, const auto&) { ++answered[0]; });
  net::Resolver::Request b = other.lookup(
      "two.relvane.test", [&](int err, const auto& found) { answered[1] += err == 0 && found.size() == 2; });
  a.cancel();
  EXPECT_TRUE(b.pending());
  FullBacklog silent;
  StdoutCapture trace;
  Relay late(128, "late.relvane.test"), literal, unknown(128, "nowhere.relvane.test", 9),
      never(128, "127.0.0.1", silent.port);
  never.repeater.setConnectTimeout(1);
  int c0, d0, d = -1;
  ASSERT_TRUE(literal.connectPair(c0, d0));
  const auto asked = Clock::now();
  int waiting[2] = {late.client(), late.client()}, c = unknown.client(), s = never.client();
  ASSERT_TRUE(waitFor([&] { return late.repeater.pairTableSize() == 2; }));
  std::string got[2];
  EXPECT_TRUE(runWithPeer([&] { sendAll(c0, "ping"), got[0] = recvExact(d0, 4, 2s), waitPeerClosed(c); }));
  EXPECT_EQ(got[0], "ping");
  EXPECT_TRUE(waitFor([&] { return answered[1] == 1; }) && answered[0] == 0) << answered[0] << answered[1];
  EXPECT_TRUE(!readableWithin(s, 0ms) || secondsSince(asked) >= 0.9) << "reset before the connect bound";
  EXPECT_TRUE(late.counts.seen.empty()) << "relayed while the name was still being looked up";
  EXPECT_EQ(unknown.repeater.pairTableSize(), 0);
  EXPECT_NE(
      trace.text().find("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=nowhere.relvane.test, port=9 err=22\n"),
      std::string::npos);
  EXPECT_EQ(unknown.counts.failures, std::vector<std::string>{"Domain name not found"}) << "the resolver's own reason";

  auto viaName = [&] {
    for (int i = 0; i < 2; ++i) {
      int fd = (sendAll(waiting[i], "via name " + std::to_string(i)), late.dest.acceptOne(10s));
      got[i] = recvExact(fd, 10, 5s), closeFd(fd);
    }
  };
  EXPECT_TRUE(runWithPeer(viaName, 20s));
  EXPECT_TRUE(got[0] == "via name 0" || got[0] == "via name 1") << got[0];
  EXPECT_NE(got[0], got[1]);
  EXPECT_GE(secondsSince(asked), 1.9);
  EXPECT_EQ(names.questions("late.relvane.test"), 2) << "one A and one AAAA question for both clients";
  EXPECT_TRUE(waitPeerClosed(s, 0ms)) << "not reset once the connect bound had passed";
  EXPECT_EQ(never.counts.endings, (std::vector<std::pair<PairEnding, int>>{{PairEnding::ConnectFailed, ETIMEDOUT}}));

  for (int fd : {c0, d0, waiting[0], waiting[1], c, s}) ::close(fd);

  const std::tuple<const char*, LoopbackListener*, const char*> onward[] = {{"two.relvane.test", &second, "127.0.0.2"},
                                                                            {"::1", &v6, "::1"}};
  for (auto [host, at, address] : onward) {
    if (at->fd < 0) GTEST_SKIP() << "no IPv6 loopback here";
    Relay r(128, host, at->port);
    c = r.client();
    EXPECT_TRUE(runWithPeer([&] { d = at->acceptOne(), sendAll(c, "x"), got[0] = recvExact(d, 1); }));
    EXPECT_EQ(got[0], "x") << host;
    ASSERT_TRUE(waitFor([&] { return !r.counts.seen.empty() && r.pairOf(c); }));
    EXPECT_EQ(r.pairOf(c)->connectStream->peerAddress, address);
    EXPECT_EQ(r.pairOf(c)->connectStream->peerPort, at->port);
    closeFd(c), closeFd(d);
  }
}
