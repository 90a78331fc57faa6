// A slot with several destinations, over real sockets: failover within one client's connect and
// back after the retry time, round robin over three, least connections with held pairs.
#include <netinet/in.h>
#include <sys/socket.h>

#include "NetHarness.h"

using namespace nettest;

namespace {

// A listener on 127.0.0.1:port, or -1 when the port is taken.
int listenAt(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) closeFd(fd);
  return fd;
}

// Takes a client through the relay; the index of the destination listener that got it, or -1.
int servedBy(Relay& r, const std::vector<int>& listeners, std::vector<int>& held) {
  const std::size_t opened = r.counts.seen.size();
  const int client = r.client();
  held.push_back(client);
  if (client < 0 || !waitFor([&] { return r.counts.seen.size() > opened && r.counts.seen.back() > 0; })) return -1;
  for (std::size_t i = 0; i < listeners.size(); ++i)
    if (readableWithin(listeners[i], 0ms)) {
      held.push_back(::accept(listeners[i], nullptr, nullptr));
      return static_cast<int>(i);
    }
  return -1;
}

std::vector<int> fds(const std::vector<LoopbackListener*>& ls) {
  std::vector<int> out;
  for (const LoopbackListener* l : ls) out.push_back(l->fd);
  return out;
}

}  // namespace

TEST(Destinations, FailoverAndBackAfterRetryDown) {
  LoopbackListener second;
  const int firstPort = freePort();  // nothing listens: the connect is refused
  Relay r(128, "127.0.0.1", firstPort);
  net::RelayOptions options;
  options.retryDown = 1;
  r.repeater.setOptions(options);
  r.repeater.retarget({{"127.0.0.1", firstPort}, {"127.0.0.1", second.port}});
  std::vector<int> held;
  EXPECT_EQ(servedBy(r, {-1, second.fd}, held), 1) << "the refused first is passed over within the connect";
  EXPECT_TRUE(r.counts.endings.empty()) << "the client saw no failure";
  auto states = r.repeater.destinationStates();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_FALSE(states[0].up);
  EXPECT_EQ(states[0].name, "127.0.0.1:" + std::to_string(firstPort));
  EXPECT_EQ(servedBy(r, {-1, second.fd}, held), 1) << "down: not tried again within the retry time";
  int first = listenAt(firstPort);
  ASSERT_GE(first, 0);
  ASSERT_TRUE(waitFor([&] { return r.repeater.destinationStates()[0].up; }, 3s));
  EXPECT_EQ(servedBy(r, {first, second.fd}, held), 0) << "failover: the first again once it is up";
  for (int& fd : held) closeFd(fd);
  closeFd(first);
}

TEST(Destinations, RoundRobinOverThreeAndLeastConnections) {
  LoopbackListener a, b, c;
  Relay r(128, "127.0.0.1", a.port);
  net::RelayOptions options;
  options.balance = net::BalanceMode::RoundRobin;
  r.repeater.setOptions(options);
  r.repeater.retarget({{"127.0.0.1", a.port}, {"127.0.0.1", b.port}, {"127.0.0.1", c.port}});
  std::vector<int> count(3), held;
  for (int i = 0; i < 30; ++i)
    if (const int at = servedBy(r, fds({&a, &b, &c}), held); at >= 0) ++count[at];
  EXPECT_EQ(count, (std::vector<int>{10, 10, 10}));
  for (int& fd : held) closeFd(fd);
  ASSERT_TRUE(waitFor([&] { return r.repeater.livePairs() == 0; }));

  options.balance = net::BalanceMode::LeastConnections;
  r.repeater.setOptions(options);
  r.repeater.retarget({{"127.0.0.1", a.port}, {"127.0.0.1", b.port}});
  std::vector<int> onA, onB;
  for (int i = 0; i < 4; ++i) {
    std::vector<int> pair;
    const int at = servedBy(r, fds({&a, &b}), pair);
    (at == 0 ? onA : onB).insert((at == 0 ? onA : onB).end(), pair.begin(), pair.end());
  }
  ASSERT_EQ(onA.size(), 4u) << "two pairs each";
  for (int& fd : onA) closeFd(fd);
  ASSERT_TRUE(waitFor([&] { return r.repeater.livePairs() == 2; }));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(servedBy(r, fds({&a, &b}), held), 0) << "the one with fewer pairs";
  for (int& fd : held) closeFd(fd);
  for (int& fd : onB) closeFd(fd);
}

// A probe that finds nobody marks the destination down until one answers; no client is needed.
TEST(Destinations, HealthCheckMarksDownAndUp) {
  LoopbackListener first;
  const int port = freePort();
  int second = listenAt(port);
  ASSERT_GE(second, 0);
  Relay r(128, "127.0.0.1", first.port);
  net::RelayOptions options;
  options.checkInterval = 1;
  options.retryDown = 0;  // only the probes change the states
  r.repeater.setOptions(options);
  r.repeater.retarget({{"127.0.0.1", first.port}, {"127.0.0.1", port}});
  auto secondUp = [&] { return r.repeater.destinationStates()[1].up; };
  loop().runFor(200ms);
  EXPECT_TRUE(secondUp());
  closeFd(second);
  EXPECT_TRUE(waitFor([&] { return !secondUp(); }, 4s));
  EXPECT_TRUE(r.repeater.destinationStates()[0].up);
  second = listenAt(port);
  ASSERT_GE(second, 0);
  EXPECT_TRUE(waitFor(secondUp, 4s));
  while (readableWithin(first.fd, 0ms)) ::close(::accept(first.fd, nullptr, nullptr));
  closeFd(second);
}
