// The PROXY protocol header against bytes written out by hand from the format, read back whole,
// a byte at a time, and refused when malformed.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "net/ProxyHeader.h"

using namespace std::string_literals;

namespace {

const std::string kSig("\r\n\r\n\0\r\nQUIT\n", 12);

net::ProxyHeaderRead read(std::string_view bytes) { return net::readProxyHeader({bytes.data(), bytes.size()}); }

net::SocketAddress at(const char* text, int port) {
  net::SocketAddress a;
  EXPECT_TRUE(net::SocketAddress::parse(text, port, a)) << text;
  return a;
}

// What a header carried, "" for no address.
std::string carried(const net::ProxyHeaderRead& r) {
  if (!r.carriesAddress()) return "";
  return r.source.text() + " " + std::to_string(r.source.port()) + " " + r.destination.text() + " " +
         std::to_string(r.destination.port());
}

}  // namespace

TEST(ProxyHeader, EncodesByteExactAndReadsBackWholeOrByteByByte) {
  struct Case {
    int version;
    const char *source, *destination;  // null: the relay's own connection (LOCAL / UNKNOWN)
    std::string bytes, carries;
  } cases[] = {
      {1, "127.0.0.1", "127.1.2.3", "PROXY TCP4 127.0.0.1 127.1.2.3 56324 443\r\n", "127.0.0.1 56324 127.1.2.3 443"},
      {1, "::1", "2001:db8::7", "PROXY TCP6 ::1 2001:db8::7 56324 443\r\n", "::1 56324 2001:db8::7 443"},
      {1, "::ffff:127.0.0.9", "::ffff:127.0.0.1", "PROXY TCP4 127.0.0.9 127.0.0.1 56324 443\r\n",
       "127.0.0.9 56324 127.0.0.1 443"},
      {1, "127.0.0.9", "::1", "PROXY TCP6 ::ffff:127.0.0.9 ::1 56324 443\r\n", "::ffff:127.0.0.9 56324 ::1 443"},
      {2, "127.0.0.1", "127.1.2.3", kSig + "\x21\x11\x00\x0c\x7f\0\0\x01\x7f\x01\x02\x03\xdc\x04\x01\xbb"s,
       "127.0.0.1 56324 127.1.2.3 443"},
      {2, "::1", "2001:db8::7",
       kSig + "\x21\x21\x00\x24"s + std::string(15, '\0') + "\x01\x20\x01\x0d\xb8"s + std::string(11, '\0') +
           "\x07\xdc\x04\x01\xbb"s,
       "::1 56324 2001:db8::7 443"},
      {1, nullptr, nullptr, "PROXY UNKNOWN\r\n", ""},
      {2, nullptr, nullptr, kSig + "\x20\x00\x00\x00"s, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.carries + " v" + std::to_string(c.version));
    EXPECT_EQ(c.source ? net::encodeProxyHeader(c.version, at(c.source, 56324), at(c.destination, 443))
                       : net::encodeLocalProxyHeader(c.version),
              c.bytes);
    const std::string sent = c.bytes + "GET /";  // the client's own bytes follow at once
    for (std::size_t n = 0; n < c.bytes.size(); ++n)
      ASSERT_EQ(read(sent.substr(0, n)).status, net::ProxyHeaderRead::NeedMore) << n;
    const net::ProxyHeaderRead r = read(sent);
    EXPECT_EQ(r.status, net::ProxyHeaderRead::Done);
    EXPECT_EQ(r.version, c.version);
    EXPECT_EQ(r.length, c.bytes.size());
    EXPECT_EQ(carried(r), c.carries);
  }
}

TEST(ProxyHeader, RefusesMalformedAndOversizedHeaders) {
  const std::string v4 = kSig + "\x21\x11\x00\x0c"s + std::string(12, '\x01');
  const std::string tlv = kSig + "\x21\x11\x00\x11"s + std::string(12, '\x01') + "\x04\x00\x02xy"s;  // a NOOP TLV
  const std::string unknown = "PROXY UNKNOWN " + std::string(91, 'x') + "\r\n";  // 107 bytes, the most
  EXPECT_EQ(read(v4).length, 28u);
  EXPECT_EQ(read(tlv + "z").length, 33u);
  EXPECT_EQ(read(unknown).length, 107u);
  for (const std::string& bad : {
           "GET / HTTP/1.1\r\n"s,
           "PROXY TCP4 127.0.0.1 127.0.0.2 1 2\n"s,
           "PROXY TCP4 127.0.0.1 127.0.0.2 1 2\rX"s,
           "PROXY TCP5 127.0.0.1 127.0.0.2 1 2\r\n"s,
           "PROXY TCP4 ::1 127.0.0.2 1 2\r\n"s,
           "PROXY TCP6 [::1] ::1 1 2\r\n"s,
           "PROXY TCP4 127.0.0.1 127.0.0.2 1 65536\r\n"s,
           "PROXY TCP4 127.0.0.1 127.0.0.2 -1 2\r\n"s,
           "PROXY TCP4 127.0.0.1  127.0.0.2 1 2\r\n"s,
           "PROXY TCP4 127.0.0.1 127.0.0.2 1 2 3\r\n"s,
           "PROXY TCP4 127.0.0.01 127.0.0.2 1 2\r\n"s,
           "PROXY TCP4 127.0.0.1\0x 127.0.0.2 1 2\r\n"s,
           "PROXY TCP4 127.0.0.1 127.0.0.2 1\r\n"s,
           unknown.substr(0, 105) + "x\r\n",                                           // 108 bytes
           kSig.substr(0, 11) + "X",                                                   // signature
           kSig + "\x11\x11\x00\x0c"s,                                                 // version 1 in a v2 block
           kSig + "\x22\x11\x00\x0c"s,                                                 // no such command
           kSig + "\x21\x12\x00\x0c"s,                                                 // UDP
           kSig + "\x21\x11\x00\x08"s + std::string(8, '\x01'),                        // shorter than its addresses
           kSig + "\x21\x11\x03\xf1"s,                                                 // 16 + 1009 bytes
           kSig + "\x21\x11\x00\x11"s + std::string(12, '\x01') + "\x04\x00\x03xyz"s,  // a TLV longer than the block
       })
    EXPECT_EQ(read(bad).status, net::ProxyHeaderRead::Invalid) << bad;
}
