// A slot's several destinations: the values that name them and the choice among them (round robin
// and least connections over real sockets in DestinationsRelayTest.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Balancer.h"
#include "net/DestinationList.h"

using namespace std::chrono_literals;
using net::BalanceMode;
using net::Balancer;

namespace {
const Balancer::Clock::time_point t0 = Balancer::Clock::time_point{} + 1h;

}  // namespace

TEST(DestinationList, ReadsHostPortStrictlyAndWritesItBack) {
  const std::string longName(260, 'a');
  for (const std::string good : {"relay-2.example_x.net:80", "127.0.0.1:65535", "[2001:db8::1]:1"})
    EXPECT_EQ(net::forwardValueText(net::parseForwardValue(good).value_or(net::HostPort{})), good);
  EXPECT_EQ(net::parseForwardValue("[::1]:0080"), (net::HostPort{"::1", 80}));
  EXPECT_EQ(net::parseForwardValue(longName + ":1"), (net::HostPort{longName, 1}));
  for (const std::string bad :
       {"", "host", "host:", ":80", "host:0", "host:65536", "host:8o", "host:+80", "host :80", " host:80", "host:80 ",
        "h/st:80", "::1:80", "[::1]", "[]:80", "[::1:80", "[127.0.0.1]:80", "[fe80::1%eth0]:80"})
    EXPECT_FALSE(net::parseForwardValue(bad)) << bad;
  EXPECT_FALSE(net::parseForwardValue(longName + "a:1"));
}

TEST(Balancer, FailoverTriesTheNextInOrderAndReturnsAfterTheRetryTime) {
  Balancer b(3, BalanceMode::Failover, 10s);
  Balancer::Tried first, second, third;
  EXPECT_EQ(b.choose(first, t0), 0);
  EXPECT_TRUE(b.connectFailed(0, t0));
  EXPECT_EQ(b.next(first, 0, t0), 1);  // the same client, on the next one
  EXPECT_EQ(b.choose(second, t0 + 9s), 1);
  EXPECT_EQ(b.choose(third, t0 + 10s), 0);
  const Balancer::State s = b.stateAt(0, t0 + 10s);
  EXPECT_TRUE(s.up && s.since == t0 + 10s && s.chosen == 2 && s.failures == 1);
}

// Whatever the mode, one client meets each destination once, those up first, then none.
TEST(Balancer, NextNeverRepeatsAndTriesDownOnesLast) {
  for (BalanceMode mode : {BalanceMode::Failover, BalanceMode::RoundRobin, BalanceMode::LeastConnections}) {
    Balancer b(3, mode);
    b.probed(0, false, t0);  // down until something answers
    Balancer::Tried tried;
    std::vector<int> picks{b.choose(tried, t0 + 1h)};
    for (int i = 0; i < 4 && picks.back() >= 0; ++i) {
      b.connectFailed(picks.back(), t0 + 1h);
      picks.push_back(b.next(tried, picks.back(), t0 + 1h));
    }
    EXPECT_EQ(picks, (std::vector<int>{1, 2, 0, -1})) << int(mode);
    EXPECT_TRUE(b.connected(0, t0 + 1h) && b.stateAt(0, t0 + 1h).up);
  }
}
