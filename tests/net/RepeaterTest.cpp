// The repeater's table and counts through accept, close and stop.
#include "NetHarness.h"

using namespace nettest;
using namespace testsupport;

TEST(Repeater, TableReusesTheLowestIndexStopReportsEachCloseAndTheRelayRestarts) {
  StdoutCapture quiet;
  Relay r;
  int c[4], d[4];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(r.connectPair(c[i], d[i]));
    EXPECT_EQ(r.pairOf(c[i])->acceptStream->index + r.pairOf(c[i])->connectStream->index, 2 * i);
  }
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet()) << "idle pairs owe no events: no write event after the first";
  testsupport::resetClose(c[0]);
  ASSERT_TRUE(loop().runUntil([&] { return r.counts.seen.back() == 2; }, 5s));
  EXPECT_EQ(r.repeater.pairTableSize(), 3);
  ASSERT_TRUE(r.connectPair(c[3], d[3]));
  EXPECT_EQ(r.pairOf(c[3])->acceptStream->index, 0);
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2, 3, 2, 3}));

  r.counts.seen.clear();
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(waitPeerClosed(c[i]));

  r.repeater.start(r.port, "127.0.0.1", r.dest.port);  // the relay closed first: its side holds the port
  EXPECT_TRUE(r.repeater.isListening());
  for (int i = 0; i < 4; ++i) closeFd(c[i]), closeFd(d[i]);
}

// Pairs still connecting count nothing, neither while open nor when closed; stop reports after
// every entry it closes.
TEST(Repeater, CountsFollowConnectingAndConnectedPairsThroughCloseAndStop) {
  FullBacklog dest;
  StdoutCapture trace;
  Relay r(128, "127.0.0.1", dest.port);
  ::close(dest.acceptOne());  // room for exactly one queued connection
  int a = r.client(), b = r.client(), c = -1, d = -1;
  ASSERT_TRUE(loop().runUntil([&] { return r.counts.seen.size() == 1; }, 5s));
  ::close(dest.acceptOne());
  ASSERT_TRUE(loop().runUntil([&] { return r.counts.seen.size() == 2; }, 5s));
  c = r.client();  // the queue is full again: this connect stays in progress
  ASSERT_TRUE(loop().runUntil([&] { return r.pairOf(c) != nullptr; }, 5s));
  loop().runFor(100ms);
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2}));
  testsupport::resetClose(c);
  ASSERT_TRUE(loop().runUntil([&] { return r.counts.seen.size() == 3; }, 5s));
  d = r.client();
  ASSERT_TRUE(loop().runUntil([&] { return r.pairOf(d) != nullptr; }, 5s));
  EXPECT_EQ(r.pairOf(d)->acceptStream->index, 2) << "the connecting pair's freed entry is taken again";
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2, 2, 1, 0, 0}));
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  for (int* fd : {&a, &b, &d}) EXPECT_TRUE(waitPeerClosed(*fd)), closeFd(*fd);
}

// Clients queued faster than a round connects onward: all are taken, every one is connected in
// the order it arrived, even after the last client has been taken, and each relays.
TEST(Repeater, ABurstIsConnectedOnwardInArrivalOrderAfterTheLastClientIsTaken) {
  StdoutCapture quiet;
  Relay r;
  constexpr int kClients = 120;
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(r.client());
    const char tag = static_cast<char>(i);
    ASSERT_EQ(::send(clients.back(), &tag, 1, 0), 1);
  }
  std::vector<int> order, dests;
  ASSERT_TRUE(runWithPeer([&] {
    for (int i = 0; i < kClients; ++i) {
      const int d = r.dest.acceptOne(10s);
      if (d < 0) return;
      dests.push_back(d);
      const std::string tag = recvExact(d, 1, 5s);
      order.push_back(tag.size() == 1 ? static_cast<unsigned char>(tag[0]) : -1);
    }
  }));
  std::vector<int> arrival(kClients);
  for (int i = 0; i < kClients; ++i) arrival[i] = i;
  EXPECT_EQ(order, arrival);
  EXPECT_TRUE(loop().runUntil([&] { return !r.counts.seen.empty() && r.counts.seen.back() == kClients; }, 5s));
  for (int& fd : clients) closeFd(fd);
  for (int& fd : dests) closeFd(fd);
}
