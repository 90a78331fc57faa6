#pragma once
// The PROXY protocol header: the few bytes a relay sends ahead of a client's first byte so the
// destination learns who the client is (its address and the address it reached), and reads from
// a client that came through a balancer in front of it. Version 1 is a text line, version 2 a
// binary block; a reader takes either.
//
//   v1: "PROXY TCP4 <src> <dst> <sport> <dport>\r\n"  (TCP6 alike; "PROXY UNKNOWN...\r\n"), <= 107 bytes
//   v2: 12-byte signature | ver/cmd | family | length (2, big-endian) | addresses | TLVs
//       addresses: IPv4 src, dst (4 each), IPv6 src, dst (16 each), then src port, dst port (2 each)
#include <cstddef>
#include <span>
#include <string>

#include "net/SocketAddress.h"

namespace net {

inline constexpr std::size_t kProxyV1MaxSize = 107;
// The whole v2 block, TLVs included, that a client may send. The format allows 16 + 65535 bytes;
// what front balancers send is far less, and this much fits the smallest relay buffer (1 KB), so
// a header is always whole in the client's queue before it is judged.
inline constexpr std::size_t kProxyV2MaxSize = 1024;

// The header for a relayed connection: source = the client, destination = the address it
// reached on this machine (the accepted socket's own name). An IPv4 client on a dual-stack
// listener (::ffff:a.b.c.d) is sent as IPv4. version 1 or 2; when either address is not an IP
// address, v1 sends "PROXY UNKNOWN\r\n" and v2 the PROXY command with no address.
std::string encodeProxyHeader(int version, const SocketAddress& source, const SocketAddress& destination);
// For a connection the relay makes on its own account (a health probe): v1 "PROXY UNKNOWN\r\n",
// v2 the LOCAL command; the destination then uses the connection's own addresses.
std::string encodeLocalProxyHeader(int version);

struct ProxyHeaderRead {
  enum Status { NeedMore, Invalid, Done };
  Status status = NeedMore;
  std::size_t length = 0;  // bytes the header took, when Done; the client's own bytes follow
  int version = 0;         // 1 or 2, when Done
  // The client and the address it reached, as the header carries them; both empty when it
  // carries none (v1 UNKNOWN, v2 LOCAL or unspecified family): the connection's own apply.
  SocketAddress source;
  SocketAddress destination;
  bool carriesAddress() const { return !source.empty(); }
};

// Judges every byte a client has sent so far (call again with more after NeedMore). Invalid as
// soon as the bytes cannot begin a header, or when none is complete within its maximum size.
ProxyHeaderRead readProxyHeader(std::span<const char> received);

}  // namespace net
