// The repeater's table and counts through accept, close, stop and a burst of clients.
#include "NetHarness.h"

using namespace nettest;

// A new pair takes the lowest free entry; pairs still connecting count nothing, neither while
// open nor when closed; idle pairs owe no events; stop reports after every entry it closes,
// closes the clients, and the relay starts again on its port.
TEST(Repeater, TableAndCountsThroughConnectingCloseStopAndRestart) {
  FullBacklog dest;
  StdoutCapture trace;
  Relay r(0, "127.0.0.1", dest.port);  // a size out of range: the default
  ::close(dest.acceptOne());  // room for exactly one queued connection
  int a = r.client(), b = r.client(), c = -1, d = -1;
  ASSERT_TRUE(waitFor([&] { return r.counts.seen.size() == 1; }));
  ::close(dest.acceptOne());
  ASSERT_TRUE(waitFor([&] { return r.counts.seen.size() == 2; }));
  EXPECT_EQ(r.pairOf(a)->acceptStream->index + 2 * r.pairOf(b)->connectStream->index, 2);
  EXPECT_EQ(r.pairOf(a)->acceptStream->sendBufferSize, 128u * 1024);
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet()) << "idle pairs owe no events: no write event after the first";
  c = r.client();  // the queue is full again: this connect stays in progress
  ASSERT_TRUE(waitFor([&] { return r.pairOf(c) != nullptr; }));
  loop().runFor(100ms);
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2}));
  resetClose(c);
  ASSERT_TRUE(waitFor([&] { return r.counts.seen.size() == 3; }));
  d = r.client();
  ASSERT_TRUE(waitFor([&] { return r.pairOf(d) != nullptr; }));
  EXPECT_EQ(r.pairOf(d)->acceptStream->index, 2) << "the connecting pair's freed entry is taken again";
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2, 2, 1, 0, 0}));
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  for (int* fd : {&a, &b, &d}) EXPECT_TRUE(waitPeerClosed(*fd)), closeFd(*fd);
  r.repeater.start(r.port, "127.0.0.1", dest.port);  // the relay closed first: its side holds the port
  EXPECT_TRUE(r.repeater.isListening());
}

// Clients queued faster than a round connects onward: all are taken, every one is connected in
// the order it arrived, even after the last client has been taken, and each relays.
TEST(Repeater, ABurstIsConnectedOnwardInArrivalOrderAfterTheLastClientIsTaken) {
  StdoutCapture quiet;
  Relay r;
  constexpr int kClients = 120;
  std::vector<int> clients, order, arrival, dests;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(r.client()), arrival.push_back(i);
    const char tag = static_cast<char>(i);
    ASSERT_EQ(::send(clients.back(), &tag, 1, 0), 1);
  }
  ASSERT_TRUE(runWithPeer([&] {
    for (int i = 0, fd; i < kClients && (fd = r.dest.acceptOne(10s)) >= 0; ++i) {
      dests.push_back(fd);
      const std::string tag = recvExact(fd, 1, 5s);
      order.push_back(tag.size() == 1 ? static_cast<unsigned char>(tag[0]) : -1);
    }
  }));
  EXPECT_EQ(order, arrival);
  EXPECT_TRUE(waitFor([&] { return !r.counts.seen.empty() && r.counts.seen.back() == kClients; }));
  for (int& fd : clients) closeFd(fd);
  for (int& fd : dests) closeFd(fd);
}
