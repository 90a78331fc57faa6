#include "filter/IpFilter.h"

#include "filter/IpAddress.h"

#include <algorithm>
#include <string_view>

namespace {

using ipaddr::allDigits;
using ipaddr::decimalValue;
using ipaddr::parseDottedQuad;

bool isLocalIPv4(uint32_t v4) { return v4 == 0x7F000001u; }

bool isPrivateIPv4(uint32_t v4) {
  const unsigned a = v4 >> 24, b = (v4 >> 16) & 0xff, c = (v4 >> 8) & 0xff;
  return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168) || (a == 192 && b == 0 && c == 2) ||
         a == 127;
}

bool isIPv6Loopback(const ipaddr::Bytes& address) {
  static constexpr ipaddr::Bytes kLoopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return address == kLoopback;
}

// A count written outside 0..kMaxRules must not walk off the list.
int usedEntries(int32_t count) { return std::clamp<int32_t>(count, 0, CIpFilter::kMaxRules); }

}  // namespace

const uint32_t CIpFilter::prefixMasks[33] = {
    0x00000000u, 0x80000000u, 0xC0000000u, 0xE0000000u, 0xF0000000u, 0xF8000000u, 0xFC000000u, 0xFE000000u, 0xFF000000u,
    0xFF800000u, 0xFFC00000u, 0xFFE00000u, 0xFFF00000u, 0xFFF80000u, 0xFFFC0000u, 0xFFFE0000u, 0xFFFF0000u, 0xFFFF8000u,
    0xFFFFC000u, 0xFFFFE000u, 0xFFFFF000u, 0xFFFFF800u, 0xFFFFFC00u, 0xFFFFFE00u, 0xFFFFFF00u, 0xFFFFFF80u, 0xFFFFFFC0u,
    0xFFFFFFE0u, 0xFFFFFFF0u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFEu, 0xFFFFFFFFu,
};

CIpFilter::CIpFilter() = default;
CIpFilter::~CIpFilter() = default;
CIpFilter::CIpFilter(const CIpFilter& other) = default;
CIpFilter& CIpFilter::operator=(const CIpFilter& other) = default;

int CIpFilter::isAccept(const std::string& address) const {
  switch (mode) {
    case ModeLocalHost: return isLocalHost(address);
    case ModePrivate: return isPrivateAddress(address);
    case ModeRules: return isAcceptByRules(address);
    case ModeAcceptAll: return 1;
    default: return 0;  // a mode nobody chose must not open the slot to everyone
  }
}

int CIpFilter::isAcceptByRules(const std::string& address) const {
  const int allowed = usedEntries(allowCount);
  int i = 0;
  while (i < allowed && !matchRule(allowRules[i], address)) ++i;
  if (i == allowed) return 0;

  const int denied = usedEntries(denyCount);
  for (int j = 0; j < denied; ++j)
    if (matchRule(denyRules[j], address)) return 0;
  return 1;
}

int CIpFilter::isLocalHost(const std::string& address) {
  ipaddr::Bytes host;
  if (!ipaddr::parseHost(address, host)) return 0;
  if (ipaddr::isIPv4Mapped(host)) return isLocalIPv4(ipaddr::mappedIPv4(host)) ? 1 : 0;
  return isIPv6Loopback(host) ? 1 : 0;
}

int CIpFilter::isPrivateAddress(const std::string& address) {
  ipaddr::Bytes host;
  if (!ipaddr::parseHost(address, host)) return 0;
  if (ipaddr::isIPv4Mapped(host)) return isPrivateIPv4(ipaddr::mappedIPv4(host)) ? 1 : 0;
  const bool uniqueLocal = (host[0] & 0xFE) == 0xFC;                   // fc00::/7
  const bool linkLocal = host[0] == 0xFE && (host[1] & 0xC0) == 0x80;  // fe80::/10
  return isIPv6Loopback(host) || uniqueLocal || linkLocal ? 1 : 0;
}

int CIpFilter::matchRule(const std::string& rule, const std::string& address) {
  ipaddr::Prefix ruleValue, peer;
  if (!ipaddr::parsePrefix(rule, ruleValue)) return 0;
  if (!ipaddr::parsePrefix(address, peer)) return 0;  // its prefix part plays no part
  return ipaddr::covers(ruleValue, peer.bytes) ? 1 : 0;
}

int CIpFilter::isValidRule(const std::string& rule) {
  ipaddr::Prefix ignored;
  return ipaddr::parsePrefix(rule, ignored) ? 1 : 0;
}

int CIpFilter::parseAddress(const std::string& text, unsigned char& a, unsigned char& b, unsigned char& c,
                            unsigned char& d, int32_t& prefix) {
  a = b = c = d = 0;
  prefix = 32;
  const std::string_view whole(text);
  const size_t slash = whole.find('/');
  const std::string_view addressPart = whole.substr(0, slash);

  unsigned char q[4];
  if (!parseDottedQuad(addressPart, q)) return 0;
  int32_t length = 32;
  if (slash != std::string_view::npos) {
    const std::string_view prefixPart = whole.substr(slash + 1);
    if (prefixPart.empty() || !allDigits(prefixPart)) return 0;
    length = decimalValue(prefixPart);
    if (length > 32) return 0;
  }
  prefix = length;
  a = q[0];
  b = q[1];
  c = q[2];
  d = q[3];
  return 1;
}

int CIpFilter::isDigits(const char* text) {
  if (text == nullptr) return 0;
  return allDigits(std::string_view(text)) ? 1 : 0;
}
