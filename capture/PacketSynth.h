#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "capture/Endpoint.h"

// Builds raw IP packets (no link header) with correct IP, TCP and UDP checksums.
namespace packet_synth {

namespace tcp_flag {
constexpr std::uint8_t fin = 0x01, syn = 0x02, rst = 0x04, psh = 0x08, ack = 0x10;
}

// The largest TCP payload that fits one IP packet of the given family.
std::size_t maxTcpPayload(bool v6);

std::string tcp(const Endpoint& from, const Endpoint& to, std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                std::string_view payload);
std::string udp(const Endpoint& from, const Endpoint& to, std::string_view payload);

}  // namespace packet_synth
