// Bytes through the relay: arrival order, integrity, back-pressure, and the ways a pair ends.
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>

#include "NetHarness.h"
#include "net/BufferPool.h"

using namespace nettest;

namespace {

constexpr std::size_t kChunk = 1 << 20;

// n pseudo-random bytes from the seed, then a half-close; the reader checks them chunk by chunk,
// and that the end is an orderly one.
void sendStream(int fd, std::size_t n, unsigned seed) {
  for (std::size_t sent = 0; sent < n; sent += kChunk)
    sendAll(fd, pattern(std::min(kChunk, n - sent), seed + sent), 30s);
  ::shutdown(fd, SHUT_WR);
}

bool receiveStream(int fd, std::size_t n, unsigned seed) {
  for (std::size_t got = 0; got < n; got += kChunk)
    if (recvExact(fd, std::min(kChunk, n - got), 30s) != pattern(std::min(kChunk, n - got), seed + got)) return false;
  bool closed = false, reset = false;
  return recvUntilEof(fd, 10s, &closed, &reset).empty() && closed && !reset;
}

}  // namespace

// Clients queued faster than a round connects onward, each with its number as first byte: all
// are taken and connected onward in the order they arrived, even after the last client has been
// taken. Then both ends of every pair send at once and half-close: pair 0 carries 64 MiB each
// way, the next 23 300 kB, the rest nothing but their orderly end.
TEST(RelayFlow, ABurstIsConnectedInArrivalOrderAndEveryByteRelayedBothWays) {
  StdoutCapture quiet;
  Relay r;
  constexpr int kPairs = 120;
  auto size = [](int id) -> std::size_t { return id == 0 ? 64u << 20 : id < 24 ? 300000 : 0; };
  std::vector<int> clients, dests, order, arrival;
  for (int i = 0; i < kPairs; ++i) {
    clients.push_back(r.client()), arrival.push_back(i);
    ASSERT_TRUE(sendAll(clients.back(), std::string(1, static_cast<char>(i))));
  }
  std::atomic<int> good{0};
  auto peers = [&] {
    for (int fd; std::ssize(dests) < kPairs && (fd = r.dest.acceptOne(10s)) >= 0;)  // 255: no first byte
      dests.push_back(fd), order.push_back(static_cast<unsigned char>((recvExact(fd, 1, 5s) + '\xff')[0]));
    if (order != arrival) return;
    std::vector<std::thread> flows;
    for (int i = 0; i < kPairs; ++i)
      for (bool up : {true, false}) {
        const int from = up ? clients[i] : dests[i], to = up ? dests[i] : clients[i];
        const unsigned seed = static_cast<unsigned>(i) + (up ? 0 : 1000);
        flows.emplace_back([=] { sendStream(from, size(i), seed); });
        flows.emplace_back([=, &good] { good += receiveStream(to, size(i), seed); });
      }
    for (auto& t : flows) t.join();
  };
  EXPECT_TRUE(runWithPeer(peers, 120s));
  EXPECT_TRUE(order == arrival && good == 2 * kPairs) << good;
  EXPECT_TRUE(waitFor([&] { return r.repeater.pairTableSize() == 0; })) << "both directions ended";
  EXPECT_EQ(std::pair(std::ranges::max(r.counts.seen), r.counts.seen.back()), std::pair(kPairs, 0));
  for (std::vector<int>* list : {&clients, &dests})
    for (int& fd : *list) closeFd(fd);
}

// One relay through a pair's life: a reader that stops holds the relay at its buffer bound and
// the loop sleeps through it, with no bound while both directions are open; every byte is
// delivered afterwards, and the pooled storage is then reused without stale bytes. Bytes before
// a reset still arrive, and then the reset: a client must not take a cut reply for a whole one.
// Once one direction has ended, a pair in which nothing moves for the bound is cut; bytes that
// keep moving keep it alive.
TEST(RelayFlow, SlowReaderResetAndHalfCloseThroughOneRelay) {
  StdoutCapture trace;
  Relay r(4);
  r.repeater.setHalfCloseTimeout(1);
  int c, d;
  ASSERT_TRUE(r.connectPair(c, d));
  CTcpStreamPair* p = r.pairOf(c);
  const std::string data = pattern(32u << 20, 3);
  std::thread sender([&] { sendAll(c, data, 60s); });
  EXPECT_TRUE(waitFor([&] { return p->acceptStream->readingPaused(); }, 20s));
  EXPECT_EQ(p->connectStream->sRemainCount, 4096u);
  const std::uint64_t rounds = loop().round();
  const std::string waits = trace.text();
  loop().runFor(1500ms);  // past the half-close bound
  EXPECT_LE(loop().round() - rounds, 6u) << "the full pair waits quietly";
  ASSERT_EQ(r.repeater.pairTableSize(), 1) << "cut while both directions were open";
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
  EXPECT_FALSE(p->connectStream->holdsSendBuffer() || p->acceptStream->holdsSendBuffer());
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
    EXPECT_TRUE(atDest == up && atClient == down) << size;
  }

  const std::string reply = pattern(200000, 5);
  bool reset = false;
  std::string got;
  EXPECT_TRUE(runWithPeer([&] {
    std::thread reader([&] { got = recvUntilEof(late, 10s, nullptr, &reset); });
    sendAll(d1, reply);
    int unacked = 1;  // every byte has reached the relay's side before the destination fails
    for (int i = 0; i < 200 && unacked > 0; ++i) ::ioctl(d1, SIOCOUTQ, &unacked), std::this_thread::sleep_for(5ms);
    resetClose(d1);
    reader.join();
  }));
  EXPECT_TRUE(got == reply && reset) << got.size() << (reset ? "" : ", ended in order");

  ::shutdown(c, SHUT_WR);
  const auto halfClosed = Clock::now();
  auto trickle = [&] {
    recvUntilEof(d);
    for (int i = 0; i < 5; ++i) sendAll(d, "."), std::this_thread::sleep_for(400ms);  // 2 s of trickle
    got = recvUntilEof(c, 10s, nullptr, &reset);
  };
  EXPECT_TRUE(runWithPeer(trickle, 20s));
  const double lasted = secondsSince(halfClosed);
  EXPECT_TRUE(got == "....." && reset) << got;
  EXPECT_TRUE(lasted >= 2.5 && lasted < 6.0) << lasted;
  EXPECT_EQ(r.repeater.pairTableSize(), 0);
  ASSERT_EQ(r.counts.endings.size(), 2u);
  EXPECT_EQ(r.counts.endings[0].first, PairEnding::DestinationReset);
  EXPECT_EQ(r.counts.endings[1], std::make_pair(PairEnding::HalfCloseTimedOut, 0));
  for (int fd : {c, d, late}) ::close(fd);
}
