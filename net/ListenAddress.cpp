#include "net/ListenAddress.h"

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
  const int family = literalFamily(text);
  if (family == 0) return false;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    ::inet_pton(AF_INET, text.c_str(), &v4->sin_addr);
    length = sizeof *v4;
  } else {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr);
    length = sizeof *v6;
  }
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return bound;
}

}  // namespace net
