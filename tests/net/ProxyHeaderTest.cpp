// The PROXY protocol header against bytes written out by hand from the format, read back whole,
// a byte at a time, and refused when malformed.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "net/ProxyHeader.h"

using namespace std::string_literals;

namespace {

const std::string kSig("\r\n\r\n\0\r\nQUIT\n", 12);

net::ProxyHeaderRead read(std::string_view bytes) { return net::readProxyHeader({bytes.data(), bytes.size()}); }

net::SocketAddress at(const char* text, int port) {
  net::SocketAddress a;
  net::SocketAddress::parse(text, port, a);
  return a;
}

std::string text(const net::SocketAddress& a) { return a.empty() ? "-" : a.text() + " " + std::to_string(a.port()); }

}  // namespace

TEST(ProxyHeader, EncodesByteExactAndReadsBackWholeOrByteByByte) {
  // Sources and destinations null: the relay's own connection (LOCAL / UNKNOWN). An IPv4 client of
  // a dual-stack listener is written as IPv4.
  for (const auto& [version, source, destination, bytes, carries] :
       std::vector<std::tuple<int, const char*, const char*, std::string, std::string>>{
           {1, "::1", "2001:db8::7", "PROXY TCP6 ::1 2001:db8::7 56324 443\r\n", "::1 56324 2001:db8::7 443"},
           {1, "::ffff:127.0.0.9", "::ffff:127.0.0.1", "PROXY TCP4 127.0.0.9 127.0.0.1 56324 443\r\n",
            "127.0.0.9 56324 127.0.0.1 443"},
           {2, "127.0.0.1", "127.1.2.3", kSig + "\x21\x11\x00\x0c\x7f\0\0\x01\x7f\x01\x02\x03\xdc\x04\x01\xbb"s,
            "127.0.0.1 56324 127.1.2.3 443"},
           {2, "::1", "2001:db8::7",
            kSig + "\x21\x21\x00\x24"s + std::string(15, '\0') + "\x01\x20\x01\x0d\xb8"s + std::string(11, '\0') +
                "\x07\xdc\x04\x01\xbb"s,
            "::1 56324 2001:db8::7 443"},
           {1, nullptr, nullptr, "PROXY UNKNOWN\r\n", "- -"},
           {2, nullptr, nullptr, kSig + "\x20\x00\x00\x00"s, "- -"}}) {
    EXPECT_EQ(source ? net::encodeProxyHeader(version, at(source, 56324), at(destination, 443))
                     : net::encodeLocalProxyHeader(version),
              bytes);
    const std::string sent = bytes + "GET /";  // the client's own bytes follow at once
    for (std::size_t n = 0; n < bytes.size(); ++n)
      ASSERT_EQ(read(sent.substr(0, n)).status, net::ProxyHeaderRead::NeedMore) << carries << n;
    const net::ProxyHeaderRead r = read(sent);
    EXPECT_EQ(std::tuple(r.status, r.version, r.length, text(r.source) + " " + text(r.destination)),
              std::tuple(net::ProxyHeaderRead::Done, version, bytes.size(), carries));
  }
}

TEST(ProxyHeader, RefusesMalformedAndOversizedHeaders) {
  const std::string unknown = "PROXY UNKNOWN " + std::string(91, 'x') + "\r\n";  // 107 bytes, the most
  EXPECT_EQ(read(kSig + "\x21\x11\x00\x11"s + std::string(12, '\x01') + "\x04\x00\x02xyz"s).length, 33u);  // a NOOP TLV
  EXPECT_EQ(read(unknown).length, 107u);
  // No such protocol, an address of the other family or bracketed, a port beyond 65535 or signed, a
  // blank too many, a field too many or too few, a leading zero, a bare LF, a bare CR.
  for (const char* line :
       {"TCP5 127.0.0.1 127.0.0.2 1 2", "TCP4 ::1 127.0.0.2 1 2", "TCP6 [::1] ::1 1 2",
        "TCP4 127.0.0.1 127.0.0.2 1 65536", "TCP4 127.0.0.1 127.0.0.2 -1 2", "TCP4 127.0.0.1  127.0.0.2 1 2",
        "TCP4 127.0.0.1 127.0.0.2 1 2 3", "TCP4 127.0.0.1 127.0.0.2 1", "TCP4 127.0.0.01 127.0.0.2 1 2",
        "TCP4 127.0.0.1 127.0.0.2 1 2\n", "TCP4 127.0.0.1 127.0.0.2 1 2\rX"})
    EXPECT_EQ(read("PROXY "s + line + "\r\n").status, net::ProxyHeaderRead::Invalid) << line;
  // Not a header, a NUL in an address, 108 bytes; v2: the signature, version 1, no such command, UDP,
  // shorter than its addresses, 16 + 1009 bytes, a TLV longer than the block.
  for (const std::string& bad :
       {"GET / HTTP/1.1\r\n"s, "PROXY TCP4 127.0.0.1\0x 127.0.0.2 1 2\r\n"s, unknown.substr(0, 105) + "x\r\n",
        kSig.substr(0, 11) + "X", kSig + "\x11\x11\x00\x0c"s, kSig + "\x22\x11\x00\x0c"s, kSig + "\x21\x12\x00\x0c"s,
        kSig + "\x21\x11\x00\x08"s + std::string(8, '\x01'), kSig + "\x21\x11\x03\xf1"s,
        kSig + "\x21\x11\x00\x11"s + std::string(12, '\x01') + "\x04\x00\x03xyz"s})
    EXPECT_EQ(read(bad).status, net::ProxyHeaderRead::Invalid) << bad;
}
