// The PROXY header over real sockets: sent byte-exact as the format defines it (v1 and v2), and
// read from clients (the filter judging the carried address; a malformed and a slow header).
#include <netinet/in.h>

#include "NetHarness.h"

using namespace nettest;

namespace {

std::string relayedHead(Relay& r, std::size_t n, int& client, int& dest) {
  std::string got;
  if (!r.connectPair(client, dest) || !sendAll(client, "hello")) return {};
  runWithPeer([&] { got = recvExact(dest, n + 5); });
  return got;
}

std::string be16(int v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)}; }

}  // namespace

TEST(Proxy, SendsV1AndV2HeadersAheadOfTheClientsBytes) {
  Relay r;
  net::RelayOptions options;
  options.sendProxy = 1;
  r.repeater.setOptions(options);
  int client = -1, dest = -1;
  ASSERT_TRUE(r.connectPair(client, dest) && sendAll(client, "hello"));
  const std::string v1 = "PROXY TCP4 127.0.0.1 127.0.0.1 " + std::to_string(portOf(client)) + " " +
                         std::to_string(r.port) + "\r\n";
  std::string got;
  EXPECT_TRUE(runWithPeer([&] { got = recvExact(dest, v1.size() + 5); }));
  EXPECT_EQ(got, v1 + "hello");
  EXPECT_EQ(r.pairOf(client)->acceptStream->receivedBytes, 5u) << "the header is not the client's bytes";
  closeFd(client), closeFd(dest);

  options.sendProxy = 2;
  r.repeater.setOptions(options);
  got = relayedHead(r, 28, client, dest);
  const std::string loop4("\x7f\x00\x00\x01", 4);
  const std::string v2 = std::string("\r\n\r\n\0\r\nQUIT\n", 12) + "\x21\x11" + be16(12) + loop4 + loop4 +
                         be16(portOf(client)) + be16(r.port);
  EXPECT_EQ(got, v2 + "hello");
  closeFd(client), closeFd(dest);
}

TEST(Proxy, AcceptsAHeaderTheFilterJudgesAndResetsMalformedAndSlowOnes) {
  Relay r;
  CIpFilter localOnly;
  localOnly.mode = CIpFilter::ModeLocalHost;
  r.repeater.filter = &localOnly;
  r.repeater.setConnectTimeout(1);
  net::RelayOptions options;
  options.acceptProxy = true;
  r.repeater.setOptions(options);

  int client = r.client(), dest = -1;
  ASSERT_TRUE(sendAll(client, "PROXY TCP4 127.0.0.1 127.0.0.1 5000 80\r\nhello"));
  ASSERT_TRUE(waitFor([&] { return r.counts.seen.size() == 1; }, 5s, [&] { dest = r.dest.acceptOne(5s); }));
  EXPECT_EQ(recvExact(dest, 5), "hello") << "the bytes after the header are kept, the header is not passed on";
  EXPECT_EQ(r.pairOf(client), nullptr) << "the pair is known by the carried port";
  int position = 0;
  const CTcpStreamPair* pair = r.repeater.getNextPair(position);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->acceptStream->peerAddress, "127.0.0.1");
  EXPECT_EQ(pair->acceptStream->peerPort, 5000);
  closeFd(client), closeFd(dest);

  // A loopback peer whose header carries an address the filter does not serve.
  const std::string v2Refused = std::string("\r\n\r\n\0\r\nQUIT\n", 12) + "\x21\x11" + be16(12) +
                                std::string("\xc0\x00\x02\x07\x7f\x00\x00\x01", 8) + be16(5000) + be16(80);
  // Malformed, and one that never completes within the connect timeout.
  for (const std::string& sent : {v2Refused, std::string("GET / HTTP/1.0\r\n\r\n"), std::string("PROXY TCP4 ")}) {
    client = r.client();
    bool closed = false, reset = false;
    const auto t0 = Clock::now();
    ASSERT_TRUE(sendAll(client, sent));
    EXPECT_TRUE(runWithPeer([&] { receive(client, SIZE_MAX, 5s, &closed, &reset); }));
    EXPECT_TRUE(closed) << sent.size();
    EXPECT_EQ(reset, sent != v2Refused) << "refused: closed as at accept; otherwise reset";
    if (sent.size() == 11) {
      EXPECT_GE(secondsSince(t0), 0.9) << "the slow one had its connect timeout";
    }
    closeFd(client);
  }
  EXPECT_EQ(r.dest.acceptOne(100ms), -1) << "none of them reached the destination";
}
