#include "net/LocalAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <strings.h>
#include <unistd.h>

#include "net/SocketAddress.h"

namespace net {
namespace {

bool sameAddress(const SocketAddress& a, const sockaddr* b) {
  if (!b || a.family() != b->sa_family) return false;
  if (a.family() == AF_INET)
    return std::memcmp(&reinterpret_cast<const sockaddr_in*>(a.get())->sin_addr,
                       &reinterpret_cast<const sockaddr_in*>(b)->sin_addr, sizeof(in_addr)) == 0;
  return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a.get())->sin6_addr,
                     &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr, sizeof(in6_addr)) == 0;
}

bool onAnInterface(const SocketAddress& a) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* i = list; i && !found; i = i->ifa_next) found = sameAddress(a, i->ifa_addr);
  ::freeifaddrs(list);
  return found;
}

bool loopbackOrAny(const SocketAddress& a) {
  if (a.family() == AF_INET) {
    const std::uint32_t v4 = ntohl(reinterpret_cast<const sockaddr_in*>(a.get())->sin_addr.s_addr);
    return (v4 >> 24) == 127 || v4 == INADDR_ANY;
  }
  const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(a.get())->sin6_addr;
  return IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_UNSPECIFIED(&v6);
}

}  // namespace

bool isThisHost(const std::string& host) {
  SocketAddress a;
  if (SocketAddress::parse(host, 0, a)) return loopbackOrAny(a) || onAnInterface(a);
  std::string name = host;
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (::strcasecmp(name.c_str(), "localhost") == 0) return true;
  char self[256] = {};
  return ::gethostname(self, sizeof self - 1) == 0 && ::strcasecmp(name.c_str(), self) == 0;
}

}  // namespace net
