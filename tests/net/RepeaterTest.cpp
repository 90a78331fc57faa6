// The repeater's table, counts, start/stop and the ways a peer is not served.
#include <gtest/gtest.h>

#include <unistd.h>

#include "NetHarness.h"

using namespace nettest;
using testsupport::closeFd;
using testsupport::waitPeerClosed;

TEST(Repeater, TableReusesTheLowestIndexAndStopReportsEachClose) {
  StdoutCapture quiet;
  Relay r;
  int c[4], d[4];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(r.connectPair(c[i], d[i]));
    EXPECT_EQ(r.pairOf(c[i])->acceptStream->index + r.pairOf(c[i])->connectStream->index, 2 * i);
  }
  loop().runFor(50ms);
  EXPECT_TRUE(loopQuiet()) << "idle pairs owe no events: no write event after the first";
  abortFd(c[0]);
  ASSERT_TRUE(loop().runUntil([&] { return r.counts.seen.back() == 2; }, 5s));
  EXPECT_EQ(r.repeater.pairTableSize(), 3);
  ASSERT_TRUE(r.connectPair(c[3], d[3]));
  EXPECT_EQ(r.pairOf(c[3])->acceptStream->index, 0);
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2, 3, 2, 3}));

  r.counts.seen.clear();
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  EXPECT_FALSE(r.repeater.isListening());
  int position = 0;
  EXPECT_EQ(r.repeater.getNextPair(position), nullptr);
  EXPECT_EQ(position, -1);
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(waitPeerClosed(c[i]));
  r.repeater.stop();  // nothing left to close: no count
  EXPECT_EQ(r.counts.seen.size(), 3u);
  for (int i = 0; i < 4; ++i) closeFd(c[i]), closeFd(d[i]);
}

TEST(Repeater, PairStillConnectingIsNotCounted) {
  FullBacklog backlog;
  StdoutCapture trace;
  Relay r(128, "127.0.0.1", backlog.port);
  int c = r.client();
  ASSERT_TRUE(testsupport::sendAll(c, "early"));
  CTcpStreamPair* p = nullptr;
  ASSERT_TRUE(loop().runUntil([&] { return (p = r.pairOf(c)) && p->connectStream->sRemainCount == 5; }, 5s));
  loop().runFor(100ms);
  EXPECT_TRUE(r.counts.seen.empty());
  EXPECT_EQ(p->connectStream->connectState, STREAM_CONNECTING);
  EXPECT_EQ(p->acceptStream->peerAddress + ":" + std::to_string(p->acceptStream->localPort),
            "127.0.0.1:" + std::to_string(r.port));
  EXPECT_EQ(p->connectStream->peerAddress + ":" + std::to_string(p->connectStream->peerPort), ":0");
  EXPECT_NE(trace.text().find("Connect() WSAEWOULDBLOCK  host=127.0.0.1, port=" + std::to_string(backlog.port)),
            std::string::npos);
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, std::vector<int>{0});  // reported although nothing changed
  closeFd(c);
}

TEST(Repeater, PeersNotServedAreClosedWithoutAPair) {
  CIpFilter filter;
  filter.mode = CIpFilter::ModeRules;
  filter.allowCount = 1;
  filter.allowRules[0] = "10.0.0.0/8";
  StdoutCapture trace;
  int refusedPort = testsupport::freePort();
  Relay refused(128, "127.0.0.1", refusedPort), unknown(128, "relvane-test.invalid", 9), filtered;
  filtered.repeater.filter = &filter;
  for (Relay* r : {&refused, &unknown, &filtered}) {
    int c = r->client();
    bool closed = false;
    EXPECT_TRUE(runWithPeer([&] { closed = waitPeerClosed(c); }));
    EXPECT_TRUE(closed);
    EXPECT_EQ(r->repeater.pairTableSize(), 0);
    closeFd(c);
  }
  EXPECT_EQ(refused.counts.seen, std::vector<int>{0});
  EXPECT_TRUE(filtered.counts.seen.empty());
  std::string t = trace.text();
  EXPECT_TRUE(t.find("CTcpRepeater::notifyOnError() index=0, kind=connectSocket, err=111\n") != std::string::npos ||
              t.find("CONNECT FAILE! hostname=127.0.0.1, port=" + std::to_string(refusedPort) + " err=111\n") !=
                  std::string::npos);
  EXPECT_NE(t.find("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=relvane-test.invalid, port=9 err=22\n"),
            std::string::npos);
  EXPECT_NE(t.find("STREAM を生成\nCTcpSockStream::~CTcpSockStream() STREAM を破棄\n★★接続を拒否★★ PeerAddress=127.0.0.1, port="),
            std::string::npos);
  filter.mode = CIpFilter::ModeLocalHost;
  int c, d;
  EXPECT_TRUE(filtered.connectPair(c, d));
  closeFd(c), closeFd(d);
}

TEST(Repeater, RestartsAtOnceAfterStopAndChecksItsSettings) {
  StdoutCapture trace;
  Relay r;
  int c, d;
  ASSERT_TRUE(r.connectPair(c, d));
  r.repeater.stop();  // the relay closed first: its side lingers in TIME_WAIT on the port
  EXPECT_TRUE(waitPeerClosed(c));
  r.repeater.start(r.port, "127.0.0.1", r.dest.port);
  EXPECT_TRUE(r.repeater.isListening());

  testsupport::LoopbackListener holder;
  r.repeater.stop();
  r.repeater.start(holder.port, "127.0.0.1", r.dest.port);
  EXPECT_FALSE(r.repeater.isListening());

  CTcpSockStream tooLarge, smallest;
  tooLarge.setBuffers(65537);
  smallest.setBuffers(1);
  r.repeater.setBufferSize(0);
  EXPECT_EQ(tooLarge.sendBufferSize, 131072u);
  EXPECT_EQ(smallest.sendBufferSize, 1024u);
  EXPECT_FALSE(tooLarge.sendQueueAllocated());
  std::string t = trace.text();
  EXPECT_NE(t.find("Error:CTcpRepeater::start()-Create() err=98\n"), std::string::npos);
  EXPECT_NE(t.find("Error:CTcpSockStream::setBuffers() size=65537KB, using 128KB"), std::string::npos);
  EXPECT_NE(t.find("Error:CTcpRepeater::setBufferSize() size=0KB, using 128KB"), std::string::npos);
  closeFd(c), closeFd(d);
}
