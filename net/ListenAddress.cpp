#include "net/ListenAddress.h"

#include "net/SocketAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

int literalFamily(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  if (text.find('\0') != std::string::npos) return 0;
  if (::inet_pton(AF_INET, text.c_str(), bytes) == 1) return AF_INET;
  if (::inet_pton(AF_INET6, text.c_str(), bytes) == 1) return AF_INET6;
  return 0;
}

bool isLocalAddress(const std::string& text) {
  SocketAddress address;
  if (literalFamily(text) == 0 || !SocketAddress::parse(text, 0, address)) return false;
  const int fd = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool bound = ::bind(fd, address.get(), address.length) == 0;
  ::close(fd);
  return bound;
}

}  // namespace net
