#include "net/ProxyHeader.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <string_view>

namespace net {
namespace {

constexpr std::string_view kV1Prefix = "PROXY ";
constexpr std::string_view kV2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr std::size_t kV2FixedSize = 16;  // signature, ver/cmd, family, length
constexpr unsigned char kV2Local = 0x20, kV2Proxy = 0x21;
constexpr unsigned char kUnspecified = 0x00, kTcp4 = 0x11, kTcp6 = 0x21;
constexpr int kTcp4Size = 12, kTcp6Size = 36;

const sockaddr_in& in4(const SocketAddress& a) { return reinterpret_cast<const sockaddr_in&>(a.storage); }
const sockaddr_in6& in6(const SocketAddress& a) { return reinterpret_cast<const sockaddr_in6&>(a.storage); }

SocketAddress fromBytes(int family, const char* address, const char* port) {
  SocketAddress a;
  a.storage.ss_family = static_cast<sa_family_t>(family);
  if (family == AF_INET) {
    auto& s = reinterpret_cast<sockaddr_in&>(a.storage);
    std::memcpy(&s.sin_addr, address, 4), std::memcpy(&s.sin_port, port, 2);
    a.length = sizeof s;
  } else {
    auto& s = reinterpret_cast<sockaddr_in6&>(a.storage);
    std::memcpy(&s.sin6_addr, address, 16), std::memcpy(&s.sin6_port, port, 2);
    a.length = sizeof s;
  }
  return a;
}

SocketAddress unmapped(const SocketAddress& a) {
  if (a.family() != AF_INET6 || !IN6_IS_ADDR_V4MAPPED(&in6(a).sin6_addr)) return a;
  return fromBytes(AF_INET, reinterpret_cast<const char*>(&in6(a).sin6_addr) + 12,
                   reinterpret_cast<const char*>(&in6(a).sin6_port));
}

SocketAddress mapped(const SocketAddress& a) {
  if (a.family() != AF_INET) return a;
  char bytes[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\xff', '\xff'};
  std::memcpy(bytes + 12, &in4(a).sin_addr, 4);
  return fromBytes(AF_INET6, bytes, reinterpret_cast<const char*>(&in4(a).sin_port));
}

bool isIp(const SocketAddress& a) { return a.family() == AF_INET || a.family() == AF_INET6; }

// One family for both ends, IPv4 where both allow it; false when either is not an IP address.
bool sameFamily(SocketAddress& source, SocketAddress& destination) {
  if (!isIp(source) || !isIp(destination)) return false;
  source = unmapped(source), destination = unmapped(destination);
  if (source.family() != destination.family()) source = mapped(source), destination = mapped(destination);
  return true;
}

std::string encodeV1(SocketAddress source, SocketAddress destination) {
  if (!sameFamily(source, destination)) return "PROXY UNKNOWN\r\n";
  return std::string(kV1Prefix) + (source.family() == AF_INET ? "TCP4 " : "TCP6 ") + source.text() + " " +
         destination.text() + " " + std::to_string(source.port()) + " " + std::to_string(destination.port()) + "\r\n";
}

void appendAddress(std::string& out, const SocketAddress& a) {
  if (a.family() == AF_INET) out.append(reinterpret_cast<const char*>(&in4(a).sin_addr), 4);
  if (a.family() == AF_INET6) out.append(reinterpret_cast<const char*>(&in6(a).sin6_addr), 16);
}

void appendPort(std::string& out, const SocketAddress& a) {
  out.append(reinterpret_cast<const char*>(a.family() == AF_INET ? &in4(a).sin_port : &in6(a).sin6_port), 2);
}

std::string encodeV2(unsigned char command, SocketAddress source, SocketAddress destination) {
  std::string out(kV2Signature);
  const bool carried = command == kV2Proxy && sameFamily(source, destination);
  const bool v4 = carried && source.family() == AF_INET;
  const int length = carried ? (v4 ? kTcp4Size : kTcp6Size) : 0;
  out += static_cast<char>(command);
  out += static_cast<char>(carried ? (v4 ? kTcp4 : kTcp6) : kUnspecified);
  out += static_cast<char>(length >> 8), out += static_cast<char>(length & 0xff);
  if (!carried) return out;
  appendAddress(out, source), appendAddress(out, destination);
  appendPort(out, source), appendPort(out, destination);
  return out;
}

// --- reading ---

ProxyHeaderRead status(ProxyHeaderRead::Status s) {
  ProxyHeaderRead r;
  r.status = s;
  return r;
}

ProxyHeaderRead done(int version, std::size_t length) {
  ProxyHeaderRead r = status(ProxyHeaderRead::Done);
  r.version = version, r.length = length;
  return r;
}

// The bytes so far could still become `expected`.
bool beginsAs(std::string_view received, std::string_view expected) {
  const std::size_t n = std::min(received.size(), expected.size());
  return received.substr(0, n) == expected.substr(0, n);
}

// Decimal 0..65535, at most five digits.
bool readPort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  port = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    port = port * 10 + (ch - '0');
  }
  return port <= 65535;
}

// Only the characters of a literal address: the parser below stops at a NUL the line may hold.
bool readAddress(std::string_view text, int family, int port, SocketAddress& out) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F') || ch == '.' || ch == ':';
  });
  return plain && SocketAddress::parse(std::string(text), port, out) && out.family() == family;
}

// The line between "PROXY " and CRLF.
bool readV1Line(std::string_view line, ProxyHeaderRead& r) {
  if (line == "UNKNOWN" || line.starts_with("UNKNOWN ")) return true;  // what follows is not read
  std::string_view field[5];
  for (int i = 0; i < 5; ++i) {
    const std::size_t space = i < 4 ? line.find(' ') : line.size();
    if (space == std::string_view::npos) return false;
    field[i] = line.substr(0, space);
    line.remove_prefix(std::min(line.size(), space + 1));
  }
  const int family = field[0] == "TCP4" ? AF_INET : field[0] == "TCP6" ? AF_INET6 : 0;
  int sourcePort = 0, destinationPort = 0;
  return family != 0 && field[4].find(' ') == std::string_view::npos && readPort(field[3], sourcePort) &&
         readPort(field[4], destinationPort) && readAddress(field[1], family, sourcePort, r.source) &&
         readAddress(field[2], family, destinationPort, r.destination);
}

ProxyHeaderRead readV1(std::string_view received) {
  if (!beginsAs(received, kV1Prefix)) return status(ProxyHeaderRead::Invalid);
  const std::string_view seen = received.substr(0, kProxyV1MaxSize);
  const std::size_t end = seen.find_first_of("\r\n");
  const bool full = seen.size() == kProxyV1MaxSize;
  const bool lineEnds = end != std::string_view::npos;
  if (lineEnds && seen[end] == '\n') return status(ProxyHeaderRead::Invalid);
  if (!lineEnds || end + 1 == seen.size()) return status(full ? ProxyHeaderRead::Invalid : ProxyHeaderRead::NeedMore);
  if (seen[end + 1] != '\n') return status(ProxyHeaderRead::Invalid);
  ProxyHeaderRead r = done(1, end + 2);
  const std::string_view line = seen.substr(kV1Prefix.size(), end - kV1Prefix.size());
  if (!readV1Line(line, r)) return status(ProxyHeaderRead::Invalid);
  return r;
}

std::size_t be16(const char* p) {
  return static_cast<std::size_t>(static_cast<unsigned char>(p[0])) << 8 | static_cast<unsigned char>(p[1]);
}

// Type (1), length (2), value: the TLVs must fill the rest of the block exactly.
bool tlvsFit(std::string_view tlvs) {
  while (!tlvs.empty()) {
    if (tlvs.size() < 3 || tlvs.size() - 3 < be16(tlvs.data() + 1)) return false;
    tlvs.remove_prefix(3 + be16(tlvs.data() + 1));
  }
  return true;
}

// The size of the addresses the family carries; -1 for a family this relay does not take.
int addressSize(unsigned char command, unsigned char family) {
  if (family == kUnspecified) return 0;
  if (command == kV2Proxy) return family == kTcp4 ? kTcp4Size : family == kTcp6 ? kTcp6Size : -1;
  // INET, INET6 or UNIX, STREAM or DGRAM
  const bool known = (family >> 4) >= 1 && (family >> 4) <= 3 && (family & 0x0f) >= 1 && (family & 0x0f) <= 2;
  return known ? 0 : -1;  // a LOCAL block's addresses are not read
}

ProxyHeaderRead readV2(std::string_view received) {
  if (!beginsAs(received, kV2Signature)) return status(ProxyHeaderRead::Invalid);
  if (received.size() < kV2FixedSize) return status(ProxyHeaderRead::NeedMore);
  const auto command = static_cast<unsigned char>(received[12]), family = static_cast<unsigned char>(received[13]);
  const std::size_t length = be16(received.data() + 14);
  const int addresses = addressSize(command, family);
  if ((command != kV2Local && command != kV2Proxy) || addresses < 0 || length < std::size_t(addresses) ||
      kV2FixedSize + length > kProxyV2MaxSize)
    return status(ProxyHeaderRead::Invalid);
  if (received.size() < kV2FixedSize + length) return status(ProxyHeaderRead::NeedMore);
  ProxyHeaderRead r = done(2, kV2FixedSize + length);
  if (command == kV2Local) return r;
  const char* a = received.data() + kV2FixedSize;
  if (family == kTcp4) r.source = fromBytes(AF_INET, a, a + 8), r.destination = fromBytes(AF_INET, a + 4, a + 10);
  if (family == kTcp6) r.source = fromBytes(AF_INET6, a, a + 32), r.destination = fromBytes(AF_INET6, a + 16, a + 34);
  if (!tlvsFit(received.substr(kV2FixedSize + addresses, length - addresses))) return status(ProxyHeaderRead::Invalid);
  return r;
}

}  // namespace

std::string encodeProxyHeader(int version, const SocketAddress& source, const SocketAddress& destination) {
  return version == 1 ? encodeV1(source, destination) : encodeV2(kV2Proxy, source, destination);
}

std::string encodeLocalProxyHeader(int version) { return version == 1 ? encodeV1({}, {}) : encodeV2(kV2Local, {}, {}); }

ProxyHeaderRead readProxyHeader(std::span<const char> received) {
  const std::string_view bytes(received.data(), received.size());
  if (bytes.empty()) return status(ProxyHeaderRead::NeedMore);
  if (bytes[0] == kV1Prefix[0]) return readV1(bytes);
  if (bytes[0] == kV2Signature[0]) return readV2(bytes);
  return status(ProxyHeaderRead::Invalid);
}

}  // namespace net
