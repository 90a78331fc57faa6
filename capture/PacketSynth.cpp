#include "capture/PacketSynth.h"

namespace packet_synth {
namespace {

constexpr std::uint8_t protoTcp = 6, protoUdp = 17;
constexpr std::size_t ipv4Header = 20, ipv6Header = 40, tcpHeader = 20, udpHeader = 8;

void put16(std::string& s, std::size_t at, std::uint32_t v) {
  s[at] = static_cast<char>((v >> 8) & 0xff);
  s[at + 1] = static_cast<char>(v & 0xff);
}
void put32(std::string& s, std::size_t at, std::uint32_t v) {
  put16(s, at, v >> 16);
  put16(s, at + 2, v & 0xffff);
}

std::uint32_t sum16(std::string_view bytes, std::uint32_t acc = 0) {
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t hi = static_cast<std::uint8_t>(bytes[i]);
    std::uint32_t lo = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : 0;
    acc += (hi << 8) | lo;
  }
  return acc;
}
std::uint16_t fold(std::uint32_t acc) {
  while (acc >> 16) acc = (acc & 0xffff) + (acc >> 16);
  return static_cast<std::uint16_t>(~acc & 0xffff);
}

std::string_view addr(const Endpoint& e) { return {reinterpret_cast<const char*>(e.address.data()), e.addressSize()}; }

// The IP header for a transport segment of `length` bytes, followed by the segment's space.
std::string ipPacket(const Endpoint& from, const Endpoint& to, std::uint8_t proto, std::size_t length) {
  std::string p(from.v6 ? ipv6Header : ipv4Header, '\0');
  if (from.v6) {
    p[0] = 0x60;
    put16(p, 4, static_cast<std::uint32_t>(length));
    p[6] = static_cast<char>(proto);
    p[7] = 64;
    p.replace(8, 16, addr(from));
    p.replace(24, 16, addr(to));
  } else {
    p[0] = 0x45;
    put16(p, 2, static_cast<std::uint32_t>(ipv4Header + length));
    p[6] = 0x40;  // don't fragment
    p[8] = 64;
    p[9] = static_cast<char>(proto);
    p.replace(12, 4, addr(from));
    p.replace(16, 4, addr(to));
    put16(p, 10, fold(sum16(p)));
  }
  return p;
}

std::uint32_t pseudoHeaderSum(const Endpoint& from, const Endpoint& to, std::uint8_t proto, std::size_t length) {
  std::uint32_t acc = sum16(addr(from)) + sum16(addr(to));
  return acc + proto + static_cast<std::uint32_t>(length & 0xffff) + static_cast<std::uint32_t>(length >> 16);
}

std::string finish(const Endpoint& from, const Endpoint& to, std::uint8_t proto, std::string segment,
                   std::size_t checksumAt) {
  std::uint16_t sum = fold(sum16(segment, pseudoHeaderSum(from, to, proto, segment.size())));
  if (proto == protoUdp && sum == 0) sum = 0xffff;
  put16(segment, checksumAt, sum);
  return ipPacket(from, to, proto, segment.size()) + segment;
}

}  // namespace

std::size_t maxTcpPayload(bool v6) { return 65535 - tcpHeader - (v6 ? 0 : ipv4Header); }

std::string tcp(const Endpoint& from, const Endpoint& to, std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                std::string_view payload) {
  std::string s(tcpHeader, '\0');
  put16(s, 0, from.port);
  put16(s, 2, to.port);
  put32(s, 4, seq);
  put32(s, 8, flags & tcp_flag::ack ? ack : 0);
  s[12] = static_cast<char>((tcpHeader / 4) << 4);
  s[13] = static_cast<char>(flags);
  put16(s, 14, 0xffff);  // window
  s.append(payload);
  return finish(from, to, protoTcp, std::move(s), 16);
}

std::string udp(const Endpoint& from, const Endpoint& to, std::string_view payload) {
  std::string s(udpHeader, '\0');
  put16(s, 0, from.port);
  put16(s, 2, to.port);
  put16(s, 4, static_cast<std::uint32_t>((udpHeader + payload.size()) & 0xffff));
  s.append(payload);
  return finish(from, to, protoUdp, std::move(s), 6);
}

}  // namespace packet_synth
