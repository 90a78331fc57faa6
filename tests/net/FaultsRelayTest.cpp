// Faults set on a running relay: each one's effect as the peers see it, over real sockets, and
// every byte that gets through unchanged.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "NetHarness.h"
#include "net/Faults.h"

using namespace nettest;

namespace {

net::Faults faults(const char* text) {
  net::Faults f;
  std::string error;
  EXPECT_TRUE(net::applyFaultText(text, f, error)) << text << ": " << error;
  return f;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The quickest of a few one-way trips of a small message, in ms.
double oneWay(int from, int to, unsigned seed) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    const std::string msg = pattern(64, seed + i);
    std::string got;
    Clock::duration took{};
    EXPECT_TRUE(runWithPeer(
        [&] {
      const auto t0 = Clock::now();
      sendAll(from, msg), got = recvExact(to, msg.size(), 2s), took = Clock::now() - t0;
        },
        5s));
    EXPECT_EQ(got, msg);
    best = std::min(best, ms(took));
  }
  return best;
}

// The sizes of the reads that took n bytes, each read as soon as it could be.
std::vector<std::size_t> pieces(int fd, std::size_t n, std::string& got) {
  std::vector<std::size_t> sizes;
  char buf[65536];
  for (int i = 0; i < 10000 && got.size() < n; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) break;
    const ssize_t k = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
    if (k <= 0) break;
    got.append(buf, static_cast<std::size_t>(k)), sizes.push_back(static_cast<std::size_t>(k));
  }
  return sizes;
}

}  // namespace

// One connection lives through latency, a bandwidth cap, the slicer and their clearing; then
// the cuts, each on a connection of its own.
TEST(Faults, EachFaultShapesALiveConnectionWithoutChangingAByte) {
  StdoutCapture quiet;
  Relay r;
  int c = -1, d = -1;
  ASSERT_TRUE(r.connectPair(c, d));

  const double base = oneWay(c, d, 1);
  r.repeater.setFaults(faults("latency=60 direction=up"));
  const double slowed = oneWay(c, d, 11);
  EXPECT_NEAR(slowed - base, 60.0, 5.0) << "path " << base << " ms";
  EXPECT_LT(oneWay(d, c, 21), base + 30.0);  // the other direction is left alone

  r.repeater.setFaults(faults("bandwidth=512 direction=down"));
  const std::string bulk = pattern(128 * 1024, 7);
  std::string got;
  Clock::duration took{};
  ASSERT_TRUE(runWithPeer(
      [&] {
    const auto t0 = Clock::now();
    sendAll(d, bulk), got = recvExact(c, bulk.size(), 3s), took = Clock::now() - t0;
      },
      5s));
  EXPECT_EQ(got, bulk);
  EXPECT_NEAR(ms(took) - base, 250.0, 25.0);  // 128 KiB at 512 KiB/s beyond the path's own

  r.repeater.setFaults(faults("slice=100 slice_delay=8 direction=up"));
  const std::string sliced = pattern(1200, 8);
  std::vector<std::size_t> sizes;
  got.clear();
  ASSERT_TRUE(runWithPeer([&] { sendAll(c, sliced), sizes = pieces(d, sliced.size(), got); }, 5s));
  EXPECT_EQ(got, sliced);
  EXPECT_GE(sizes.size(), 12u);
  EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 100u);

  r.repeater.setFaults({});
  EXPECT_LT(oneWay(c, d, 31), base + 30.0);

  // The destination's end reaches the client late.
  r.repeater.setFaults(faults("slow_close=80 direction=down"));
  ASSERT_TRUE(runWithPeer(
      [&] {
    const auto t0 = Clock::now();
    ::shutdown(d, SHUT_WR), got = recvUntilEof(c, 2s), took = Clock::now() - t0;
      },
      5s));
  EXPECT_TRUE(got.empty());
  EXPECT_NEAR(ms(took) - base, 90.0, 12.0);  // never early; a busy machine wakes a little late
  closeFd(c), closeFd(d);

  // Cuts: exactly N bytes reach the peer, then a reset or a close.
  struct Cut {
    const char* text;
    bool down;
    std::size_t delivered;
    bool reset;
  };
  for (const Cut& cut :
       {Cut{"reset_after=1000 direction=down", true, 1000, true},
        Cut{"limit_data=1500 direction=up", false, 1500, false}, Cut{"timeout=100 direction=up", false, 0, false}}) {
    r.repeater.setFaults(faults(cut.text));
    ASSERT_TRUE(r.connectPair(c, d)) << cut.text;
    const int from = cut.down ? d : c, to = cut.down ? c : d;
    const std::string sent = pattern(5000, 9);
    bool closed = false, reset = false;
    took = {};
    ASSERT_TRUE(runWithPeer(
        [&] {
      const auto t0 = Clock::now();
      sendAll(from, sent), got = receive(to, SIZE_MAX, 3s, &closed, &reset), took = Clock::now() - t0;
        },
        5s));
    EXPECT_EQ(got, sent.substr(0, cut.delivered)) << cut.text;
    EXPECT_TRUE(closed) << cut.text;
    EXPECT_EQ(reset, cut.reset) << cut.text;
    if (cut.delivered == 0) {
      EXPECT_NEAR(ms(took) - base, 100.0, 30.0) << cut.text;
    }
    closeFd(c), closeFd(d);
  }

  // Reset at the start, drawn for every connection.
  r.repeater.setFaults(faults("reset_percent=100 direction=down"));
  c = r.client();
  bool closed = false, reset = false;
  ASSERT_TRUE(runWithPeer([&] { d = r.dest.acceptOne(2s), got = receive(c, SIZE_MAX, 2s, &closed, &reset); }, 5s));
  EXPECT_TRUE(got.empty() && closed && reset);
  closeFd(c), closeFd(d);
}
