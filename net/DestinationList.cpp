#include "net/DestinationList.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>

namespace net {
namespace {

bool isNameChar(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '.' || ch == '-' ||
         ch == '_';
}

bool isIpv6Literal(std::string_view text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F') || ch == '.' || ch == ':';
  });
  in6_addr address;
  return plain && ::inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

std::optional<int> readPort(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int port = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    port = port * 10 + (ch - '0');
    if (port > 65535) return std::nullopt;
  }
  if (port < 1) return std::nullopt;
  return port;
}

}  // namespace

std::optional<HostPort> parseForwardValue(std::string_view value) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = value.substr(0, colon);
  const std::optional<int> port = readPort(value.substr(colon + 1));
  if (!port) return std::nullopt;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (!isIpv6Literal(host)) return std::nullopt;
  } else if (host.empty() || host.size() > kMaxForwardHostBytes || !std::all_of(host.begin(), host.end(), isNameChar)) {
    return std::nullopt;
  }
  return HostPort{std::string(host), *port};
}

std::string forwardValueText(const HostPort& destination) {
  const bool ipv6 = destination.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + destination.host + "]" : destination.host) + ":" + std::to_string(destination.port);
}

}  // namespace net
