// The UDP relay over real loopback sockets: an echo destination served from the loop itself and
// clients that the test reads without blocking while the loop runs.
#include "LocalNameServer.h"
#include "NetHarness.h"
#include "UdpPeer.h"
#include "net/UdpRelay.h"

using namespace nettest;

namespace {

using Ends = std::vector<std::pair<int, UdpSessionEnding>>;  // client port, how

struct Events final : CUdpRelayListener {
  int count = 0, refused2 = 0, loops = 0;
  Ends endings;
  void notifyOnSessionCount(int n) override { count = n; }
  void notifyOnSessionEnd(const CUdpSession& s, UdpSessionEnding how, int) override {
    endings.emplace_back(s.client().port(), how);
  }
  void notifyOnDatagramRefused(const std::string& address, int) override { refused2 += address == "127.0.0.2"; }
  void notifyOnLoopRefused(const std::string&, int) override { ++loops; }
};

struct Udp {
  Events events;
  CUdpRelay relay;
  int port = 0;
  explicit Udp(const std::string& host, int destPort, const char* listenAt = "127.0.0.1") {
    socketInit(), relay.setListener(&events), relay.setListenBindAddress(1, listenAt);
    for (int attempt = 0; attempt < 5 && !relay.isListening(); ++attempt)
      relay.start(port = freePort(), host, destPort);
  }
};

}  // namespace

// One client's datagrams of every size come back whole and one by one; then 50 clients at once
// each get their own datagram back and nothing else, through a socket of their own.
TEST(UdpRelay, EchoesWholeDatagramsEachClientGettingItsOwn) {
  UdpEcho echo;
  Udp udp("127.0.0.1", echo.port);
  ASSERT_TRUE(udp.relay.isListening());
  std::vector<int> clients(51);  // the first sends every size, then the other 50 at once
  for (int& fd : clients) fd = udpSocket("127.0.0.1");
  for (std::size_t size : {std::size_t{1}, std::size_t{1400}, CUdpRelay::kMaxDatagram}) {
    sendTo(clients[0], "127.0.0.1", udp.port, pattern(size, size));
    EXPECT_EQ(awaitDatagram(clients[0]), pattern(size, size)) << size;
  }
  for (int i = 1; i < 51; ++i) sendTo(clients[i], "127.0.0.1", udp.port, pattern(100 + i, i));
  for (int i = 1; i < 51; ++i) EXPECT_EQ(awaitDatagram(clients[i]), pattern(100 + i, i)) << i;
  const UdpTotals& t = udp.relay.totals();
  EXPECT_EQ(t.toClient.datagrams, 53u);  // every reply is in, so any other would be waiting now
  for (int fd : clients) EXPECT_EQ(::recv(fd, nullptr, 0, MSG_DONTWAIT), -1);
  EXPECT_EQ(echo.sources.size(), 51u);
  EXPECT_EQ(udp.events.count, 51);
  EXPECT_EQ(t.toDestination.datagrams, 53u);
  EXPECT_EQ(t.dropped, 0u);
  udp.relay.forEachSession([&](const CUdpSession& s) {
    if (s.client().port() != portOf(clients[0])) return;
    EXPECT_EQ(s.toClient.bytes, 1u + 1400 + 65507);
    EXPECT_EQ(s.toDestination.datagrams, 3u);
  });
  udp.relay.stop();
  EXPECT_EQ(udp.events.count, 0);
  EXPECT_EQ(udp.events.endings.size(), 51u);
  for (int& fd : clients) closeFd(fd);
}

// At the bound a new client replaces the session silent the longest; the rest end when idle.
TEST(UdpRelay, BoundReplacesTheSilentOneAndIdleSessionsEnd) {
  UdpEcho echo;
  Udp udp("127.0.0.1", echo.port);
  udp.relay.setMaxSessions(2), udp.relay.setIdleTimeout(2);
  int a = udpSocket("127.0.0.1"), b = udpSocket("127.0.0.1"), c = udpSocket("127.0.0.1");
  for (auto [fd, data] : std::vector<std::pair<int, std::string>>{{a, "a1"}, {b, "b1"}, {a, "a2"}, {c, "c1"}}) {
    sendTo(fd, "127.0.0.1", udp.port, data);
    EXPECT_EQ(awaitDatagram(fd), data);
  }
  using E = UdpSessionEnding;
  EXPECT_EQ(udp.events.endings, (Ends{{portOf(b), E::Evicted}}));
  EXPECT_EQ(udp.events.count, 2);
  EXPECT_TRUE(waitFor([&] { return udp.events.count == 0; }, 8s));
  EXPECT_EQ(udp.events.endings,
            (Ends{{portOf(b), E::Evicted}, {portOf(a), E::IdleTimedOut}, {portOf(c), E::IdleTimedOut}}));
  for (int* fd : {&a, &b, &c}) closeFd(*fd);
}

// What is not relayed is counted: a refused source, a datagram that came back from the relay's
// own socket, a destination that answers with ICMP, datagrams beyond the few held while the
// destination's name is looked up (the held ones then go in order).
TEST(UdpRelay, CountsWhatItCannotRelay) {
  UdpEcho echo;
  Udp udp("127.0.0.1", echo.port);
  CIpFilter filter;
  filter.mode = CIpFilter::ModeRules, filter.allowCount = 1, filter.denyCount = 1;
  filter.allowRules[0] = "127.0.0.0/8", filter.denyRules[0] = "127.0.0.2";
  udp.relay.filter = &filter;
  int refused = udpSocket("127.0.0.2"), served = udpSocket("127.0.0.1");
  for (int i = 0; i < 3; ++i) sendTo(refused, "127.0.0.1", udp.port, "no");
  sendTo(served, "127.0.0.1", udp.port, "yes");
  EXPECT_EQ(awaitDatagram(served), "yes");
  EXPECT_EQ(udp.relay.totals().refused, 3u);
  EXPECT_EQ(udp.events.refused2, 3);
  EXPECT_EQ(udp.relay.totals().sessions, 1u);

  int closed = udpSocket("127.0.0.1");
  Udp nowhere("127.0.0.1", portOf(closed));
  closeFd(closed);
  sendTo(served, "127.0.0.1", nowhere.port, "anyone?");
  EXPECT_TRUE(waitFor([&] { return nowhere.relay.totals().failed == 1; }));
  EXPECT_EQ(nowhere.events.endings, (Ends{{portOf(served), UdpSessionEnding::DestinationRefused}}));
  EXPECT_EQ(nowhere.events.count, 0);

  Udp self("127.0.0.1", 0);
  self.relay.start(self.port, "127.0.0.1", self.port);
  sendTo(served, "127.0.0.1", self.port, "round");
  EXPECT_TRUE(waitFor([&] { return self.events.loops == 1; }));
  EXPECT_EQ(self.relay.totals().refused, 1u);
  EXPECT_EQ(self.relay.totals().sessions, 1u);

  LocalNameServer names;
  EXPECT_TRUE(loop().resolver().setServers(names.address()));
  names.set("echo.test", {{"127.0.0.1"}, 300ms});
  Udp named("echo.test", echo.port);
  for (int i = 0; i < 10; ++i) sendTo(served, "127.0.0.1", named.port, std::to_string(i));
  for (int i = 0; i < int(CUdpSession::kMaxHeld); ++i) EXPECT_EQ(awaitDatagram(served), std::to_string(i));
  EXPECT_EQ(named.relay.totals().dropped, 2u);
  loop().resolver().setServers("");
  closeFd(refused), closeFd(served);
}

TEST(UdpRelay, ServesIPv6AndIPv4ClientsOnADualStackPort) {
  UdpEcho echo("::1");
  if (echo.fd < 0) GTEST_SKIP() << "no ::1 here";
  Udp udp("::1", echo.port, "::");
  int v6 = udpSocket("::1"), v4 = udpSocket("127.0.0.1");
  sendTo(v6, "::1", udp.port, "six");
  EXPECT_EQ(awaitDatagram(v6), "six");
  sendTo(v4, "127.0.0.1", udp.port, "four");
  EXPECT_EQ(awaitDatagram(v4), "four");
  std::set<std::string> clients;
  udp.relay.forEachSession(
      [&](const CUdpSession& s) { clients.insert(s.client().text() + ">" + s.destination().text()); });
  EXPECT_EQ(clients, (std::set<std::string>{"::1>::1", "::ffff:127.0.0.1>::1"}));
  closeFd(v6), closeFd(v4);
}
