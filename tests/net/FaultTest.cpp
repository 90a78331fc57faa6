// What the relay does when it is pointed at itself or the process runs out of descriptors.
#include <filesystem>
#include <sys/resource.h>

#include "NetHarness.h"

using namespace nettest;

static int openDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// A relay pointed at its own port, and two relays pointed at each other: the connection that
// comes back is refused at once, and the client is told, without a pile-up of descriptors.
TEST(Fault, RelayLoopsAreRefusedAtAccept) {
  Counts told;
  StdoutCapture quiet;
  const int before = openDescriptors();
  CTcpRepeater self, a, b;
  for (CTcpRepeater* r : {&self, &a, &b}) r->setListener(&told);
  const int selfPort = freePort(), aPort = freePort(), bPort = freePort();
  self.start(selfPort, "127.0.0.1", selfPort);
  a.start(aPort, "127.0.0.1", bPort);
  b.start(bPort, "127.0.0.1", aPort);
  ASSERT_TRUE(self.isListening() && a.isListening() && b.isListening());
  int peak = 0;
  for (int port : {selfPort, aPort}) {
    int c = connectLoopback(port);
    bool closed = false;
    EXPECT_TRUE(runWithPeer([&] {
      for (int i = 0; i < 40 && !closed; ++i)
        peak = std::max(peak, openDescriptors()), closed = waitPeerClosed(c, 50ms);
    }));
    EXPECT_TRUE(closed);
    closeFd(c);
  }
  loop().runFor(100ms);
  EXPECT_EQ(self.pairTableSize() + a.pairTableSize() + b.pairTableSize(), 0);
  EXPECT_LE(peak - before, 12);
  EXPECT_EQ(told.loopsRefused, 2) << "the owner hears of each, for its log";
}

// Runs in a child process of its own: the limit and the hogged descriptors must not outlive it.
static void oneFreeDescriptor() {
  Relay r;
  int warm = -1, warmDest = -1;  // a first pair, so that the sanitizers' type checks need no descriptor later
  if (!r.connectPair(warm, warmDest)) std::exit(2);
  int clients[4] = {r.client(), r.client(), r.client(), r.client()};
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit), limit.rlim_cur = static_cast<rlim_t>(openDescriptors() + 64);
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<int> hogs;
  for (int fd; (fd = ::dup(0)) >= 0;) hogs.push_back(fd);
  ::close(hogs.back()), hogs.pop_back();  // exactly one free
  loop().runFor(700ms);
  const std::uint64_t rounds = loop().round();
  loop().runFor(500ms);
  // The warm pair, and at most one client taken with the outgoing socket the relay already held;
  // the retries are paced, not made every round.
  bool allWaiting = r.repeater.pairTableSize() <= 2 && loop().round() - rounds <= 6;
  for (int c : clients) allWaiting = allWaiting && !waitPeerClosed(c, 0ms);
  for (int fd : hogs) ::close(fd);
  int served = 0;
  runWithPeer([&] {
    for (int c : clients) {
      int d = r.dest.acceptOne(5s);
      served += sendAll(c, "hi") && recvExact(d, 2) == "hi";
      closeFd(d);
    }
  });
  std::fprintf(stderr, "waiting=%d served=%d\n", allWaiting, served);
  std::exit(allWaiting && served == 4 ? 0 : 1);
}

// With exactly one descriptor free, waiting clients stay queued instead of being taken and
// dropped; once descriptors come back, every one of them is served.
TEST(Fault, OneFreeDescriptorLeavesClientsWaiting) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(oneFreeDescriptor(), ::testing::ExitedWithCode(0), "waiting=1 served=4");
}
