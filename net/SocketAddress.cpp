#include "net/SocketAddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace net {
namespace {

sockaddr_in& v4(sockaddr_storage& s) { return reinterpret_cast<sockaddr_in&>(s); }
sockaddr_in6& v6(sockaddr_storage& s) { return reinterpret_cast<sockaddr_in6&>(s); }
const sockaddr_in& v4(const sockaddr_storage& s) { return reinterpret_cast<const sockaddr_in&>(s); }
const sockaddr_in6& v6(const sockaddr_storage& s) { return reinterpret_cast<const sockaddr_in6&>(s); }

SocketAddress nameOf(int fd, bool peer) {
  SocketAddress a;
  socklen_t len = sizeof a.storage;
  auto* raw = reinterpret_cast<sockaddr*>(&a.storage);
  if ((peer ? ::getpeername(fd, raw, &len) : ::getsockname(fd, raw, &len)) == 0) a.length = len;
  return a;
}

}  // namespace

bool SocketAddress::parse(const std::string& text, int port, SocketAddress& out) {
  SocketAddress a;
  std::string bare = text;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  if (::inet_pton(AF_INET, bare.c_str(), &v4(a.storage).sin_addr) == 1) {
    a.storage.ss_family = AF_INET;
    a.length = sizeof(sockaddr_in);
  } else if (::inet_pton(AF_INET6, bare.c_str(), &v6(a.storage).sin6_addr) == 1) {
    a.storage.ss_family = AF_INET6;
    a.length = sizeof(sockaddr_in6);
  } else {
    return false;
  }
  a.setPort(port);
  out = a;
  return true;
}

SocketAddress SocketAddress::from(const sockaddr* address, socklen_t length) {
  SocketAddress a;
  if (address && length <= sizeof a.storage) {
    std::memcpy(&a.storage, address, length);
    a.length = length;
  }
  return a;
}

SocketAddress SocketAddress::localOf(int fd) { return nameOf(fd, false); }
SocketAddress SocketAddress::peerOf(int fd) { return nameOf(fd, true); }

// Every accepted connection names its peer, so the common IPv4 case is written out by hand:
// the C library formats it through printf, several times the cost of the rest of an accept.
std::string SocketAddress::text() const {
  if (family() == AF_INET) {
    const auto* octet = reinterpret_cast<const unsigned char*>(&v4(storage).sin_addr);
    char buf[16];
    char* at = buf;
    for (int i = 0; i < 4; ++i) {
      const unsigned v = octet[i];
      if (v >= 100) *at++ = static_cast<char>('0' + v / 100);
      if (v >= 10) *at++ = static_cast<char>('0' + v / 10 % 10);
      *at++ = static_cast<char>('0' + v % 10);
      if (i < 3) *at++ = '.';
    }
    return std::string(buf, at);
  }
  char buf[INET6_ADDRSTRLEN] = {};
  if (family() == AF_INET6) ::inet_ntop(AF_INET6, &v6(storage).sin6_addr, buf, sizeof buf);
  return buf;
}

int SocketAddress::port() const {
  if (family() == AF_INET) return ntohs(v4(storage).sin_port);
  if (family() == AF_INET6) return ntohs(v6(storage).sin6_port);
  return 0;
}

void SocketAddress::setPort(int port) {
  if (family() == AF_INET) v4(storage).sin_port = htons(static_cast<uint16_t>(port));
  if (family() == AF_INET6) v6(storage).sin6_port = htons(static_cast<uint16_t>(port));
}

std::string SocketAddress::key() const {
  const std::uint16_t p = static_cast<std::uint16_t>(port());
  std::string k(reinterpret_cast<const char*>(&p), sizeof p);
  if (family() == AF_INET) return k.append(reinterpret_cast<const char*>(&v4(storage).sin_addr), 4);
  if (family() != AF_INET6) return {};
  // A dual-stack socket shows an IPv4 peer as ::ffff:a.b.c.d; it is the same endpoint.
  const auto* bytes = reinterpret_cast<const char*>(&v6(storage).sin6_addr);
  if (IN6_IS_ADDR_V4MAPPED(&v6(storage).sin6_addr)) return k.append(bytes + 12, 4);
  return k.append(bytes, 16);
}

}  // namespace net
