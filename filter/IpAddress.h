#pragma once
// Address and rule texts of both families, as the address filter reads them.
//
// Every address is held as 16 bytes. An IPv4 address a.b.c.d is held as the IPv4-mapped
// ::ffff:a.b.c.d and an IPv4 prefix length n as 96 + n, so an IPv4 rule and an IPv4 peer
// compare exactly as 32-bit values would, and a peer that a dual-stack socket reports as
// ::ffff:a.b.c.d is judged as the IPv4 address it carries. An IPv4 rule never covers a
// native IPv6 peer; "::/0" covers every peer.
//
// IPv4 text: four decimal fields separated by "." (an empty field is 0, leading zeros are
// decimal, each field at most 255), optionally "/" and a prefix length of 0..32.
// IPv6 text: any text with a ":" is read by the C library's inet_pton (hex groups, one "::",
// an embedded dotted IPv4 at the end; no zone index), optionally "/" and 1..3 digits of a
// prefix length of 0..128. An empty prefix is refused in both families: "10.1.2.3/" is more
// likely a typo than a request to admit the world. Without "/" the prefix covers the whole address.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ipaddr {

using Bytes = std::array<unsigned char, 16>;

struct Prefix {
  Bytes bytes{};
  int32_t length = 128;  // in bits of the 16-byte form
};

// True when every character is '0'..'9' (also for the empty text).
bool allDigits(std::string_view text);
// Decimal value of a run of digits (empty is 0); saturates instead of overflowing.
int32_t decimalValue(std::string_view digits);
// The four fields of "a.b.c.d" (see above); false leaves `out` untouched.
bool parseDottedQuad(std::string_view text, unsigned char out[4]);

// A rule or address text of either family. False leaves `out` untouched.
bool parsePrefix(std::string_view text, Prefix& out);
// An address without a prefix part.
bool parseHost(std::string_view text, Bytes& out);

bool isIPv4Mapped(const Bytes& address);
// The IPv4 address an IPv4-mapped address carries, most significant byte first.
uint32_t mappedIPv4(const Bytes& address);
// True when the address's first `rule.length` bits equal the rule's.
bool covers(const Prefix& rule, const Bytes& address);

// Plain text of a parsed prefix that parses back to the same value: IPv4 as "a.b.c.d/n",
// anything else as the C library writes IPv6, with "/length".
std::string toText(const Prefix& prefix);

}  // namespace ipaddr
