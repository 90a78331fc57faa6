// The repeater's table and counts through accept, close and stop.
#include "NetHarness.h"

using namespace nettest;

// A new pair takes the lowest free entry; pairs still connecting count nothing, neither while
// open nor when closed; idle pairs owe no events. A client that sends and half-closes before
// the destination has taken the connection: the bytes wait, the close waits for them, and the
// reply still comes back. Stop reports after every entry it closes, closes the clients, and the
// relay starts again on its port.
TEST(Repeater, TableAndCountsThroughConnectingCloseStopAndRestart) {
  FullBacklog dest;
  StdoutCapture trace;
  Relay r(0, "127.0.0.1", dest.port);  // a size out of range: the default
  ::close(dest.acceptOne());           // room for exactly one queued connection
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
  const std::string request = pattern(10000, 7);
  std::string got, reply;
  ASSERT_TRUE(sendAll(d, request) && ::shutdown(d, SHUT_WR) == 0);
  CTcpStreamPair* p = r.pairOf(d);
  ASSERT_TRUE(waitFor([&] { return p->acceptStream->closePending == 1; }));
  EXPECT_EQ(p->connectStream->connectState, STREAM_CONNECTING);
  EXPECT_EQ(p->connectStream->sRemainCount, request.size());
  ::close(dest.acceptOne());  // room in the queue: the relay's retried connect gets through
  const std::size_t ended = r.counts.endings.size();
  EXPECT_TRUE(runWithPeer([&] {
    int fd = dest.acceptOne(10s);
    got = recvUntilEof(fd), sendAll(fd, "reply"), closeFd(fd), reply = recvUntilEof(d);
  }));
  EXPECT_TRUE(got == request && reply == "reply") << got.size() << " " << reply;
  ASSERT_TRUE(waitFor([&] { return r.counts.endings.size() > ended; }));
  EXPECT_EQ(r.counts.endings.back().first, PairEnding::ClientClosed);
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2, 2, 3, 2, 1, 0}));
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  for (int* fd : {&a, &b, &d}) EXPECT_TRUE(waitPeerClosed(*fd));
  for (int* fd : {&a, &b, &d}) closeFd(*fd);
  r.repeater.start(r.port, "127.0.0.1", dest.port);  // the relay closed first: its side holds the port
  EXPECT_TRUE(r.repeater.isListening());
}
