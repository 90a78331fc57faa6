// The PROXY header read from clients over real sockets: the filter judging the carried address, a
// malformed and a slow header. The codec's byte-exact cases are in ProxyHeaderTest.cpp; a good
// header read, and ours sent ahead of a client's bytes, in HaproxyInteropTest.cpp.
#include "NetHarness.h"

using namespace nettest;

TEST(Proxy, TheFilterJudgesTheCarriedAddressAndMalformedAndSlowHeadersAreReset) {
  Relay r;
  CIpFilter localOnly;
  localOnly.mode = CIpFilter::ModeLocalHost;
  r.repeater.filter = &localOnly;
  r.repeater.setConnectTimeout(1);
  net::RelayOptions options;
  options.acceptProxy = true;
  r.repeater.setOptions(options);
  // A loopback peer carrying an address the filter does not serve (v2, from 192.0.2.7); a malformed
  // header; one that is not complete within the connect timeout.
  const std::string refused("\r\n\r\n\0\r\nQUIT\n!\x11\0\x0c\xc0\0\x02\x07\x7f\0\0\x01\x13\x88\0\x50", 28);
  for (const std::string& sent : {refused, std::string("GET / HTTP/1.0\r\n\r\n"), std::string("PROXY TCP4 ")}) {
    int client = r.client();
    bool closed = false, reset = false;
    const auto t0 = Clock::now();
    EXPECT_TRUE(runWithPeer([&] { sendAll(client, sent), receive(client, SIZE_MAX, 5s, &closed, &reset); }));
    EXPECT_TRUE(closed && reset == (sent != refused)) << sent.size() << ": refused closed as at accept, others reset";
    EXPECT_TRUE(sent.size() != 11 || secondsSince(t0) >= 0.9) << "the slow one had its connect timeout";
    closeFd(client);
  }
  EXPECT_EQ(r.dest.acceptOne(100ms), -1) << "none of them reached the destination";
}
