// The PROXY header over real sockets: sent ahead of the client's bytes with the addresses of the
// connection, and read from clients (the filter judging the carried address; a malformed and a
// slow header). The codec's own byte-exact cases are in ProxyHeaderTest.cpp.
#include "NetHarness.h"

using namespace nettest;

namespace {

std::string be16(int v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)}; }
std::string v2Header(const std::string& source, int sourcePort, int port) {
  return std::string("\r\n\r\n\0\r\nQUIT\n!\x11\0\x0c", 16) + source + std::string("\x7f\0\0\x01", 4) +
         be16(sourcePort) + be16(port);
}

}  // namespace

TEST(Proxy, SendsTheHeaderAheadOfTheClientsBytesWhichAloneAreCounted) {
  Relay r;
  net::RelayOptions options;
  options.sendProxy = 2;
  r.repeater.setOptions(options);
  int client = -1, dest = -1;
  std::string got;
  ASSERT_TRUE(r.connectPair(client, dest));
  EXPECT_TRUE(runWithPeer([&] { sendAll(client, "hello"), got = recvExact(dest, 33); }));
  EXPECT_EQ(got, v2Header(std::string("\x7f\0\0\x01", 4), portOf(client), r.port) + "hello");
  EXPECT_EQ(r.pairOf(client)->acceptStream->receivedBytes, 5u);
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
  std::string got;
  EXPECT_TRUE(runWithPeer([&] { dest = r.dest.acceptOne(5s), got = recvExact(dest, 5); }));
  EXPECT_EQ(got, "hello") << "the bytes after the header are kept, the header is not passed on";
  int position = 0;
  const CTcpStreamPair* pair = r.repeater.getNextPair(position);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->acceptStream->peerPort, 5000) << "the carried client";
  closeFd(client), closeFd(dest);

  // A loopback peer carrying an address the filter does not serve; a malformed header; one that
  // is not complete within the connect timeout.
  const std::string refused = v2Header(std::string("\xc0\0\x02\x07", 4), 5000, 80);
  for (const std::string& sent : {refused, std::string("GET / HTTP/1.0\r\n\r\n"), std::string("PROXY TCP4 ")}) {
    client = r.client();
    bool closed = false, reset = false;
    const auto t0 = Clock::now();
    EXPECT_TRUE(runWithPeer([&] { sendAll(client, sent), receive(client, SIZE_MAX, 5s, &closed, &reset); }));
    EXPECT_TRUE(closed && reset == (sent != refused)) << sent.size() << ": refused closed as at accept, others reset";
    EXPECT_TRUE(sent.size() != 11 || secondsSince(t0) >= 0.9) << "the slow one had its connect timeout";
    closeFd(client);
  }
  EXPECT_EQ(r.dest.acceptOne(100ms), -1) << "none of them reached the destination";
}
