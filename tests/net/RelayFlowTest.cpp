// Bytes through the relay: integrity, half-close and back-pressure.
#include "NetHarness.h"
#include "net/BufferPool.h"

using namespace nettest;

namespace {

constexpr std::size_t kChunk = 1 << 20;

// n pseudo-random bytes from the seed, then a half-close; the reader checks them chunk by chunk,
// and that the end is an orderly one.
void sendStream(int fd, std::size_t n, unsigned seed) {
  for (std::size_t sent = 0; sent < n; sent += kChunk) sendAll(fd, pattern(std::min(kChunk, n - sent), seed + sent), 30s);
  ::shutdown(fd, SHUT_WR);
}

bool receiveStream(int fd, std::size_t n, unsigned seed) {
  for (std::size_t got = 0; got < n; got += kChunk)
    if (recvExact(fd, std::min(kChunk, n - got), 30s) != pattern(std::min(kChunk, n - got), seed + got)) return false;
  bool closed = false, reset = false;
  return recvUntilEof(fd, 10s, &closed, &reset).empty() && closed && !reset;
}

}  // namespace

// Both ends of every pair send at once and half-close; pair 0 carries 64 MiB each way.
TEST(RelayFlow, ManyPairsRelayEveryByteBothWays) {
  StdoutCapture quiet;
  Relay r;
  constexpr int kPairs = 24;
  auto size = [](int id) -> std::size_t { return id == 0 ? 64u << 20 : 300000; };
  std::atomic<int> good{0};
  EXPECT_TRUE(runWithPeer([&] {
    std::vector<std::thread> peers;
    for (int i = 0; i < kPairs; ++i) {
      peers.emplace_back([&, i] {  // client: its id first, so the destination knows what to expect
        int c = r.client();
        std::thread reader([&] { good += receiveStream(c, size(i), 1000 + i); });
        sendAll(c, std::string(1, char(i)));
        sendStream(c, size(i), i);
        reader.join();
        closeFd(c);
      });
      peers.emplace_back([&] {
        int d = r.dest.acceptOne(10s);
        int id = recvExact(d, 1)[0];  // 0 when nothing came
        std::thread writer([&] { sendStream(d, size(id), 1000 + id); });
        good += receiveStream(d, size(id), id);
        writer.join();
        closeFd(d);
      });
    }
    for (auto& t : peers) t.join();
  }, 120s));
  EXPECT_EQ(good, 2 * kPairs);
  EXPECT_TRUE(waitFor([&] { return r.repeater.pairTableSize() == 0; })) << "both directions ended";
  EXPECT_EQ(r.counts.seen.back(), 0);
}

// The client sends and half-closes before the destination has even taken the connection: the
// bytes wait, the close waits for them, and the reply still comes back.
TEST(RelayFlow, CloseWhileConnectingWaitsForTheQueuedBytes) {
  FullBacklog backlog;
  StdoutCapture quiet;
  Relay r(128, "127.0.0.1", backlog.port);
  int c = r.client();
  std::string request = pattern(10000, 7), got, reply;
  ASSERT_TRUE(sendAll(c, request));
  ::shutdown(c, SHUT_WR);
  CTcpStreamPair* p = nullptr;
  ASSERT_TRUE(waitFor([&] { return (p = r.pairOf(c)) && p->acceptStream->closePending == 1; }));
  EXPECT_EQ(p->connectStream->connectState, STREAM_CONNECTING);
  EXPECT_EQ(p->connectStream->sRemainCount, request.size());

  closeFd(backlog.filler);  // room in the queue: the relay's retried connect gets through
  ::close(backlog.acceptOne());
  EXPECT_TRUE(runWithPeer([&] {
    int d = backlog.acceptOne(10s);
    got = recvUntilEof(d), sendAll(d, "reply"), closeFd(d), reply = recvUntilEof(c);
  }));
  EXPECT_EQ(got, request);
  EXPECT_EQ(reply, "reply");
  EXPECT_TRUE(waitFor([&] { return r.repeater.pairTableSize() == 0; }));
  EXPECT_EQ(r.counts.endings.at(0).first, PairEnding::ClientClosed);
  closeFd(c);
}

// A reader that stops holds the relay at its buffer bound, and the loop sleeps through it; every
// byte is delivered afterwards, and the pooled storage is then reused without stale bytes.
TEST(RelayFlow, SlowReaderPausesWithoutSpinningAndPooledStorageIsClean) {
  StdoutCapture trace;
  Relay r(4);
  int c, d;
  ASSERT_TRUE(r.connectPair(c, d));
  CTcpStreamPair* p = r.pairOf(c);
  const std::string data = pattern(32u << 20, 3);
  std::thread sender([&] { sendAll(c, data, 60s); });
  EXPECT_TRUE(waitFor([&] { return p->acceptStream->readingPaused(); }, 20s));
  EXPECT_EQ(p->connectStream->sRemainCount, 4096u);
  const std::uint64_t rounds = loop().round();
  const std::string waits = trace.text();
  loop().runFor(500ms);
  EXPECT_LE(loop().round() - rounds, 6u) << "the full pair waits quietly";
  const std::string later = trace.text().substr(waits.size());
  EXPECT_EQ(later.find("SendBuffer FULL PairSocket"), std::string::npos) << "one line per wait, not per round";
  EXPECT_EQ(later.find("SEND BLOCK"), std::string::npos);
  EXPECT_NE(waits.find("SendBuffer FULL PairSocket"), std::string::npos);
  EXPECT_NE(waits.find("SEND BLOCK kind=connectSocket"), std::string::npos);

  bool same = false;
  EXPECT_TRUE(runWithPeer([&] { same = recvExact(d, data.size(), 60s) == data; }, 90s));
  sender.join();
  EXPECT_TRUE(same);
  EXPECT_EQ(p->connectStream->maxRemainCount, 4096u);

  // Quiet now, the pair that carried the bulk holds no ring; the next pair gets the pooled
  // storage and must see exactly its own bytes, none of the earlier pair's.
  loop().runFor(50ms);
  EXPECT_FALSE(p->connectStream->holdsSendBuffer());
  EXPECT_FALSE(p->acceptStream->holdsSendBuffer());
  EXPECT_GT(loop().buffers().pooledBytes(), 0u);
  int late, d1;
  ASSERT_TRUE(r.connectPair(late, d1));
  for (std::size_t size : {1u, 3u, 4095u, 4096u, 4097u, 10000u}) {
    const std::string up = pattern(size, static_cast<unsigned>(size)), down = pattern(size / 2 + 1, 5);
    std::string atDest, atClient;
    EXPECT_TRUE(runWithPeer([&] {
      sendAll(late, up), atDest = recvExact(d1, up.size());
      sendAll(d1, down), atClient = recvExact(late, down.size());
    }));
    EXPECT_EQ(atDest, up) << size;
    EXPECT_EQ(atClient, down) << size;
  }
  closeFd(d1);  // the destination ends first; the client is told, and then ends too
  EXPECT_TRUE(waitFor([&] { return !r.counts.endings.empty(); }, 5s, [&] { waitPeerClosed(late), closeFd(late); }));
  EXPECT_EQ(r.counts.endings.at(0).first, PairEnding::DestinationClosed);
  closeFd(c), closeFd(d);
}
