// The values that name a slot's further destinations, read strictly and written back as read
// (the choice among them over real sockets in DestinationsRelayTest.cpp).
#include <gtest/gtest.h>

#include <string>

#include "net/DestinationList.h"

TEST(DestinationList, ReadsHostPortStrictlyAndWritesItBack) {
  for (const std::string good : {"relay-2.example_x.net:80", "127.0.0.1:65535", "[2001:db8::1]:1"})
    EXPECT_EQ(net::forwardValueText(net::parseForwardValue(good).value_or(net::HostPort{})), good);
  EXPECT_EQ(net::parseForwardValue("[::1]:0080"), (net::HostPort{"::1", 80}));
  for (const std::string bad :
       {"", "host", "host:", ":80", "host:0", "host:65536", "host:8o", "host:+80", "host :80", " host:80", "host:80 ",
        "h/st:80", "::1:80", "[::1]", "[]:80", "[::1:80", "[127.0.0.1]:80", "[fe80::1%eth0]:80"})
    EXPECT_FALSE(net::parseForwardValue(bad)) << bad;
  EXPECT_FALSE(net::parseForwardValue(std::string(net::kMaxForwardHostBytes + 1, 'a') + ":1"));
}
