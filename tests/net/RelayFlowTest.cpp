// Bytes through the relay: integrity, half-close, back-pressure and running out of descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "NetHarness.h"

using namespace nettest;
using testsupport::closeFd;
using testsupport::recvExact;
using testsupport::recvUntilEof;
using testsupport::sendAll;

namespace {

constexpr std::size_t kChunk = 1 << 20;

// n pseudo-random bytes from the seed, then a half-close; the reader checks them chunk by chunk.
void sendStream(int fd, std::size_t n, unsigned seed) {
  for (std::size_t sent = 0; sent < n; sent += kChunk) sendAll(fd, pattern(std::min(kChunk, n - sent), seed + sent), 30s);
  ::shutdown(fd, SHUT_WR);
}

bool receiveStream(int fd, std::size_t n, unsigned seed) {
  for (std::size_t got = 0; got < n; got += kChunk)
    if (recvExact(fd, std::min(kChunk, n - got), 30s) != pattern(std::min(kChunk, n - got), seed + got)) return false;
  bool closed = false;
  return recvUntilEof(fd, 10s, &closed).empty() && closed;
}

}  // namespace

TEST(RelayFlow, LargeTransfersBothWaysArriveIntact) {
  StdoutCapture quiet;
  Relay r;
  int c, d;
  ASSERT_TRUE(r.connectPair(c, d));
  constexpr std::size_t kSize = 64u << 20;
  std::atomic<int> intact{0};
  EXPECT_TRUE(runWithPeer([&] {
    std::thread t1([&] { sendStream(c, kSize, 1); }), t2([&] { sendStream(d, kSize, 2); });
    std::thread t3([&] { intact += receiveStream(d, kSize, 1); }), t4([&] { intact += receiveStream(c, kSize, 2); });
    t1.join(), t2.join(), t3.join(), t4.join();
  }, 120s));
  EXPECT_EQ(intact, 2);
  EXPECT_TRUE(loop().runUntil([&] { return r.repeater.pairTableSize() == 0; }, 5s)) << "both directions ended";
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 0}));
  closeFd(c), closeFd(d);
}

TEST(RelayFlow, ManyPairsEachSendARequestThenReadTheWholeReply) {
  StdoutCapture quiet;
  Relay r;
  constexpr int kPairs = 24;
  std::atomic<int> good{0};
  EXPECT_TRUE(runWithPeer([&] {
    std::vector<std::thread> peers;
    for (int i = 0; i < kPairs; ++i) {
      peers.emplace_back([&, i] {  // client: request, half-close, then the reply to the end
        int c = r.client();
        sendAll(c, std::string(1, char(i)) + pattern(65536, i));
        ::shutdown(c, SHUT_WR);
        good += receiveStream(c, 300000, 1000 + i);
        closeFd(c);
      });
      peers.emplace_back([&] {  // destination: read the request to its end, answer, close
        int d = r.dest.acceptOne(10s);
        std::string req = recvUntilEof(d);
        int id = req.empty() ? 0 : req[0];
        good += req == std::string(1, char(id)) + pattern(65536, id);
        sendStream(d, 300000, 1000 + id);
        closeFd(d);
      });
    }
    for (auto& t : peers) t.join();
  }, 90s));
  EXPECT_EQ(good, 2 * kPairs);
  EXPECT_TRUE(loop().runUntil([&] { return r.repeater.pairTableSize() == 0; }, 5s));
  EXPECT_EQ(r.counts.seen.back(), 0);
}

// The client sends and half-closes before the destination has even taken the connection: the
// bytes wait, the close waits for them, and the reply still comes back.
TEST(RelayFlow, CloseWhileConnectingWaitsForTheQueuedBytes) {
  FullBacklog backlog;
  StdoutCapture trace;
  Relay r(128, "127.0.0.1", backlog.port);
  int c = r.client();
  std::string request = pattern(10000, 7), got, reply;
  ASSERT_TRUE(sendAll(c, request));
  ::shutdown(c, SHUT_WR);
  ASSERT_TRUE(loop().runUntil([&] { return trace.text().find("SendRemain=10000\n") != std::string::npos; }, 5s));
  EXPECT_TRUE(r.counts.seen.empty());

  closeFd(backlog.filler);  // room in the queue: the relay's retried connect gets through
  ::close(::accept(backlog.fd, nullptr, nullptr));
  int d = acceptWhileRunning(backlog.fd, 10s);
  ASSERT_GE(d, 0);
  EXPECT_TRUE(runWithPeer([&] {
    got = recvUntilEof(d);
    sendAll(d, "reply");
    closeFd(d);
    reply = recvUntilEof(c);
  }));
  EXPECT_EQ(got, request);
  EXPECT_EQ(reply, "reply");
  EXPECT_TRUE(loop().runUntil([&] { return r.repeater.pairTableSize() == 0; }, 5s));
  EXPECT_NE(trace.text().find("☆☆☆☆CTcpSockStream::OnSend() Close Pendig End \n"), std::string::npos);
  EXPECT_EQ(r.counts.seen, (std::vector<int>{1, 0}));
  closeFd(c);
}

TEST(RelayFlow, SlowReaderHoldsTheRelayAtItsBufferBoundWithoutBusyWaiting) {
  StdoutCapture trace;
  Relay r(4);
  int c, d;
  ASSERT_TRUE(r.connectPair(c, d));
  CTcpStreamPair* p = r.pairOf(c);
  const std::string data = pattern(32u << 20, 3);
  std::thread sender([&] { sendAll(c, data, 60s); });
  ASSERT_TRUE(loop().runUntil([&] { return p->acceptStream->readingPaused(); }, 20s));
  EXPECT_EQ(p->connectStream->sRemainCount, 4096u);
  std::uint64_t rounds = loop().round();
  loop().runFor(300ms);
  EXPECT_LE(loop().round() - rounds, 2u) << "the loop must sleep while both sides wait";
  std::string t = trace.text();
  EXPECT_NE(t.find("Error:CTcpSockStream::OnReceive() SendBuffer FULL PairSocket\n"), std::string::npos);
  EXPECT_NE(t.find("SEND BLOCK kind=connectSocket, sRemainCount="), std::string::npos);
  bool same = false;
  EXPECT_TRUE(runWithPeer([&] { same = recvExact(d, data.size(), 60s) == data; }, 90s));
  sender.join();
  EXPECT_TRUE(same);
  EXPECT_EQ(p->connectStream->maxRemainCount, 4096u);
  closeFd(c), closeFd(d);
}

TEST(RelayFlow, RunningOutOfDescriptorsPausesAcceptingOnly) {
  StdoutCapture trace;
  Relay r;
  int c0, d0;
  ASSERT_TRUE(r.connectPair(c0, d0));
  int late = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  rlimit old{};
  ::getrlimit(RLIMIT_NOFILE, &old);
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(late) + 16;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> hogs;
  for (int fd; hogs.size() < 64 && (fd = ::dup(0)) >= 0;) hogs.push_back(fd);
  sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(r.port)), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(::connect(late, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);  // waits in the backlog

  ASSERT_TRUE(loop().runUntil([&] { return trace.text().find("Accept() err=24\n") != std::string::npos; }, 5s));
  std::uint64_t rounds = loop().round();
  loop().runFor(500ms);
  EXPECT_LE(loop().round() - rounds, 6u) << "retries are paced, not a spin";
  ASSERT_TRUE(sendAll(c0, "still here"));  // no peer thread: starting one may need a descriptor
  std::string echo;
  EXPECT_TRUE(loop().runUntil([&] {
    char b[16];
    ssize_t n = ::recv(d0, b, sizeof b, MSG_DONTWAIT);
    return echo.append(b, std::max<ssize_t>(n, 0)) == "still here";
  }, 5s));

  for (int fd : hogs) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &old);
  int d1 = acceptWhileRunning(r.dest.fd);
  ASSERT_GE(d1, 0);
  EXPECT_TRUE(runWithPeer([&] { sendAll(late, "served"), echo = recvExact(d1, 6); }));
  EXPECT_EQ(echo, "served");
  EXPECT_EQ(r.repeater.pairTableSize(), 2);
  closeFd(c0), closeFd(d0), closeFd(late), closeFd(d1);
}
