#include "capture/Endpoint.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

std::optional<Endpoint> Endpoint::fromText(const std::string& text, std::uint16_t port) {
  Endpoint e;
  e.port = port;
  if (inet_pton(AF_INET, text.c_str(), e.address.data()) == 1) return e;
  e.v6 = true;
  if (inet_pton(AF_INET6, text.c_str(), e.address.data()) == 1) return e;
  return std::nullopt;
}

std::optional<Endpoint> Endpoint::fromSockaddr(const sockaddr* sa) {
  Endpoint e;
  if (sa->sa_family == AF_INET) {
    sockaddr_in in;
    std::memcpy(&in, sa, sizeof in);
    std::memcpy(e.address.data(), &in.sin_addr, 4);
    e.port = ntohs(in.sin_port);
    return e;
  }
  if (sa->sa_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, sa, sizeof in6);
    e.v6 = true;
    std::memcpy(e.address.data(), &in6.sin6_addr, 16);
    e.port = ntohs(in6.sin6_port);
    return e;
  }
  return std::nullopt;
}

std::string Endpoint::text() const {
  char buf[INET6_ADDRSTRLEN] = {};
  inet_ntop(v6 ? AF_INET6 : AF_INET, address.data(), buf, sizeof buf);
  return buf;
}
