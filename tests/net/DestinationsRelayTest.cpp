// A slot with several destinations, over real sockets: failover within one client's connect (past
// one that refuses or never answers) and back after the retry time, round robin over three
// counting 30 clients, least connections with held pairs, and the health check marking a
// destination down and up.
#include <optional>

#include "NetHarness.h"

using namespace nettest;

namespace {

struct Several : Relay {
  std::vector<int> held;
  void use(net::RelayOptions options, const std::vector<int>& ports) {
    repeater.setOptions(options);
    std::vector<net::HostPort> list;
    for (int p : ports) list.push_back({"127.0.0.1", p});
    repeater.retarget(list);
  }
  bool up(int i) { return repeater.destinationStates()[i].up; }
  // One client through the relay: the index of the listener that got it, or -1.
  int servedBy(const std::vector<int>& listeners) {
    const std::size_t opened = counts.seen.size();
    held.push_back(client());
    if (!waitFor([&] { return counts.seen.size() > opened && counts.seen.back() > 0; })) return -1;
    for (std::size_t i = 0; i < listeners.size(); ++i)
      if (listeners[i] >= 0 && readableWithin(listeners[i], 0ms))
        return held.push_back(::accept(listeners[i], nullptr, nullptr)), static_cast<int>(i);
    return -1;
  }
  void endAll() {
    for (int& fd : held) closeFd(fd);
    held.clear();
    EXPECT_TRUE(waitFor([&] { return repeater.livePairs() == 0; }));
  }
};

}  // namespace

TEST(Destinations, FailoverRoundRobinLeastConnectionsAndHealthCheck) {
  LoopbackListener b, c;
  const int aPort = freePort();  // nobody listens yet: refused
  Several r;
  net::RelayOptions options;
  options.retryDown = 1;
  r.use(options, {aPort, b.port});
  EXPECT_EQ(r.servedBy({-1, b.fd}), 1) << "the refused first is passed over within the connect";
  EXPECT_FALSE(r.up(0));
  EXPECT_EQ(r.servedBy({-1, b.fd}), 1) << "down: not tried within the retry time";
  std::optional<LoopbackListener> listener(std::in_place, "127.0.0.1", aPort);
  const int a = listener->fd;
  ASSERT_TRUE(a >= 0 && waitFor([&] { return r.up(0); }, 3s));
  EXPECT_EQ(r.servedBy({a, b.fd}), 0) << "back to the first once its retry time is over";
  r.endAll();
  FullBacklog silent;
  r.repeater.setConnectTimeout(1);
  r.use(options, {silent.port, b.port});
  EXPECT_EQ(r.servedBy({-1, b.fd}), 1) << "one that never answers costs a connect timeout, not the client";
  r.endAll();

  options.balance = net::BalanceMode::RoundRobin;
  r.use(options, {aPort, b.port, c.port});
  std::vector<int> count(3);
  for (int i = 0; i < 30; ++i)
    if (const int at = r.servedBy({a, b.fd, c.fd}); at >= 0) ++count[at];
  EXPECT_EQ(count, (std::vector<int>{10, 10, 10}));
  r.endAll();

  options.balance = net::BalanceMode::LeastConnections;
  r.use(options, {aPort, b.port});
  for (int i = 0; i < 4; ++i) r.servedBy({a, b.fd});  // two pairs each, a's first
  for (int i : {0, 1, 4, 5}) closeFd(r.held[i]);
  ASSERT_TRUE(waitFor([&] { return r.repeater.livePairs() == 2; }));
  EXPECT_EQ(r.servedBy({a, b.fd}) + r.servedBy({a, b.fd}), 0) << "both to the one with fewer pairs";
  r.endAll();

  options.checkInterval = 1;
  options.retryDown = 0;  // only the probes change the states
  r.use(options, {b.port, aPort});
  listener.reset();
  EXPECT_TRUE(waitFor([&] { return !r.up(1); }, 4s));
  EXPECT_TRUE(r.up(0));
  listener.emplace("127.0.0.1", aPort);
  EXPECT_TRUE(waitFor([&] { return r.up(1); }, 4s));
}
