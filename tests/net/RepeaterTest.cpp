// The repeater's table, counts, start/stop and failure paths.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NetHarness.h"

using namespace nettest;
using testsupport::closeFd;
using testsupport::waitPeerClosed;

namespace {

// A destination whose accept queue is full, so a connect to it stays in progress.
struct FullBacklog {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port = 0;
  int filler = -1;
  FullBacklog() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    filler = testsupport::connectLoopback(port);  // the one queued connection backlog 0 allows
  }
  ~FullBacklog() { closeFd(filler), closeFd(fd); }
};

bool before(const std::string& text, const std::string& a, const std::string& b) {
  auto i = text.find(a), j = text.find(b, i == std::string::npos ? 0 : i);
  return i != std::string::npos && j != std::string::npos;
}

}  // namespace

TEST(Repeater, TableReusesTheLowestIndexAndStopReportsEachClose) {
  StdoutCapture quiet;
  Relay r;
  int c[4], d[4];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(r.connectPair(c[i], d[i]));
    EXPECT_EQ(r.pairOf(c[i])->acceptStream->index, i);
    EXPECT_EQ(r.pairOf(c[i])->connectStream->index, i);
  }
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 2, 3}));
  abortFd(c[0]);
  ASSERT_TRUE(loop().runUntil([&] { return r.counts.seen.back() == 2; }, 5s));
  EXPECT_EQ(r.repeater.pairTableSize(), 3);
  ASSERT_TRUE(r.connectPair(c[3], d[3]));
  EXPECT_EQ(r.pairOf(c[3])->acceptStream->index, 0);

  int position = 0, live = 0;
  while (r.repeater.getNextPair(position)) ++live;
  EXPECT_EQ(live, 3);
  EXPECT_EQ(position, -1);
  EXPECT_EQ(r.repeater.getNextPair(position), nullptr);

  r.counts.seen.clear();
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  EXPECT_FALSE(r.repeater.isListening());
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(waitPeerClosed(c[i]));
  r.repeater.stop();  // nothing left: no count
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
  EXPECT_EQ(p->acceptStream->peerAddress, "127.0.0.1");
  EXPECT_EQ(p->acceptStream->localPort, r.port);
  EXPECT_EQ(p->connectStream->peerAddress, "");
  EXPECT_EQ(p->connectStream->peerPort, 0);
  EXPECT_NE(trace.text().find("Connect() WSAEWOULDBLOCK  host=127.0.0.1, port=" + std::to_string(backlog.port)),
            std::string::npos);
  r.repeater.stop();
  EXPECT_EQ(r.counts.seen, std::vector<int>{0});  // reported even though nothing changed
  closeFd(c);
}

TEST(Repeater, UnreachableDestinationClosesTheClient) {
  StdoutCapture trace;
  int refusedPort = testsupport::freePort();
  Relay refused(128, "127.0.0.1", refusedPort), unknown(128, "relvane-test.invalid", 9);
  for (Relay* r : {&refused, &unknown}) {
    int c = r->client();
    bool closed = false;
    EXPECT_TRUE(runWithPeer([&] { closed = waitPeerClosed(c); }));
    EXPECT_TRUE(closed);
    EXPECT_EQ(r->repeater.pairTableSize(), 0);
    EXPECT_EQ(r->counts.seen, std::vector<int>{0});
    closeFd(c);
  }
  std::string t = trace.text();
  EXPECT_TRUE(t.find("CTcpRepeater::notifyOnError() index=0, kind=connectSocket, err=111\n") != std::string::npos ||
              t.find("CONNECT FAILE! hostname=127.0.0.1, port=" + std::to_string(refusedPort) + " err=111\n") !=
                  std::string::npos);
  EXPECT_NE(t.find("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=relvane-test.invalid, port=9 err=22\n"),
            std::string::npos);
}

TEST(Repeater, FilterDecidesWhoIsServed) {
  CIpFilter filter;
  filter.mode = CIpFilter::ModeRules;
  filter.allowCount = 1;
  filter.allowRules[0] = "10.0.0.0/8";
  StdoutCapture trace;
  Relay r;
  r.repeater.filter = &filter;
  int c = r.client(), d = -1;
  bool closed = false;
  EXPECT_TRUE(runWithPeer([&] { closed = waitPeerClosed(c); }));
  EXPECT_TRUE(closed);
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  EXPECT_TRUE(r.counts.seen.empty());
  std::string t = trace.text();
  EXPECT_TRUE(before(t, "STREAM を生成", "STREAM を破棄"));
  EXPECT_TRUE(before(t, "STREAM を破棄", "★★接続を拒否★★ PeerAddress=127.0.0.1, port="));
  closeFd(c);
  filter.mode = CIpFilter::ModeLocalHost;
  EXPECT_TRUE(r.connectPair(c, d));
  closeFd(c), closeFd(d);
}

TEST(Repeater, RestartsAtOnceAfterStopAndReportsAPortInUse) {
  StdoutCapture trace;
  Relay r;
  int c, d;
  ASSERT_TRUE(r.connectPair(c, d));
  r.repeater.stop();  // the relay closes first: its side lingers in TIME_WAIT on the port
  EXPECT_TRUE(waitPeerClosed(c));
  closeFd(c), closeFd(d);
  r.repeater.start(r.port, "127.0.0.1", r.dest.port);
  EXPECT_TRUE(r.repeater.isListening());
  ASSERT_TRUE(r.connectPair(c, d));
  closeFd(c), closeFd(d);

  testsupport::LoopbackListener holder;
  r.repeater.stop();
  r.repeater.start(holder.port, "127.0.0.1", r.dest.port);
  EXPECT_FALSE(r.repeater.isListening());
  EXPECT_NE(trace.text().find("Error:CTcpRepeater::start()-Create() err=98\n"), std::string::npos);
}

TEST(Repeater, BufferSizeOutsideTheRangeFallsBackToTheDefault) {
  StdoutCapture trace;
  CTcpSockStream tooSmall, tooLarge, smallest;
  tooSmall.setBuffers(0);
  tooLarge.setBuffers(65537);
  smallest.setBuffers(1);
  EXPECT_EQ(tooSmall.sendBufferSize, 131072u);
  EXPECT_EQ(tooLarge.sendBufferSize, 131072u);
  EXPECT_EQ(smallest.sendBufferSize, 1024u);
  EXPECT_FALSE(tooLarge.sendQueueAllocated());
  CTcpRepeater repeater;
  repeater.setBufferSize(-5);  // once for the slot, not twice per pair
  std::string t = trace.text();
  EXPECT_NE(t.find("Error:CTcpRepeater::setBufferSize() size=-5KB, using 128KB"), std::string::npos);
  EXPECT_NE(t.find("Error:CTcpSockStream::setBuffers() size=0KB"), std::string::npos);
  EXPECT_NE(t.find("Error:CTcpSockStream::setBuffers() size=65537KB"), std::string::npos);
}
