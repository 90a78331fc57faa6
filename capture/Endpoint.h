#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct sockaddr;

// One end of a captured connection: an IPv4 or IPv6 address in network order and a port.
struct Endpoint {
  bool v6 = false;
  std::array<std::uint8_t, 16> address{};  // IPv4 uses the first 4 bytes
  std::uint16_t port = 0;

  // Parses "127.0.0.1" or "::1"; nullopt for anything else.
  static std::optional<Endpoint> fromText(const std::string& text, std::uint16_t port);
  // Takes an AF_INET or AF_INET6 socket address; nullopt for other families.
  static std::optional<Endpoint> fromSockaddr(const sockaddr* sa);
  std::size_t addressSize() const { return v6 ? 16 : 4; }
  std::string text() const;
};
