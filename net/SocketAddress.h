#pragma once
// An IPv4 or IPv6 address with a port, as the socket calls take it.
#include <string>
#include <sys/socket.h>

namespace net {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  // A literal address ("192.0.2.1", "::1", "[::1]"); false for anything else, names included.
  static bool parse(const std::string& text, int port, SocketAddress& out);
  static SocketAddress from(const sockaddr* address, socklen_t length);
  static SocketAddress localOf(int fd);  // empty (length 0) when the fd has no name
  static SocketAddress peerOf(int fd);

  int family() const { return storage.ss_family; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  bool empty() const { return length == 0; }
  std::string text() const;  // dotted IPv4 or IPv6 text, no brackets; "" when empty
  int port() const;
  void setPort(int port);
  // Family, port and address bytes: equal keys are the same endpoint.
  std::string key() const;
};

}  // namespace net
