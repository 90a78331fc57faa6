#pragma once
// What a bench client asks of the bench server: every connection opens with
// a 9-byte header, a command letter and a little-endian 64-bit length.
//   'S' sink:   the client sends `length` pattern bytes; the server checks them
//               and answers 'K' (all matched) or 'X', then the count it received.
//   'O' source: the server sends `length` pattern bytes.
//   'E' echo:   the server sends back whatever comes (length unused).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>

namespace bench {

constexpr std::size_t kHeaderSize = 9;
constexpr std::size_t kChunk = 256 * 1024;  // bytes per send/recv call on both ends

inline void putHeader(std::uint8_t* out, char command, std::uint64_t length) {
  out[0] = static_cast<std::uint8_t>(command);
  for (int i = 0; i < 8; ++i) out[1 + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

inline std::uint64_t headerLength(const std::uint8_t* in) {
  std::uint64_t length = 0;
  for (int i = 0; i < 8; ++i) length |= static_cast<std::uint64_t>(in[1 + i]) << (8 * i);
  return length;
}

// Every party of the bench lives on 127.0.0.1.
inline sockaddr_in loopbackAddress(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

}  // namespace bench
