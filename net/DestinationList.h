#pragma once
// The further destinations of a slot, each written in one settings value as "host:port", or
// "[v6]:port" for an IPv6 literal (a bare one is refused: its colons would hide the port).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace net {

struct HostPort {
  std::string host;  // a name or a literal address, without brackets
  int port = 0;
  bool operator==(const HostPort&) const = default;
};

inline constexpr std::size_t kMaxForwardHostBytes = 260;

// The value read strictly: a host of letters, digits, '.', '-' and '_' (at most 260 bytes) or a
// bracketed IPv6 literal, then ':' and a decimal port 1..65535 (leading zeros allowed, nothing
// else); nullopt for anything else, blanks included.
std::optional<HostPort> parseForwardValue(std::string_view value);
// The value as it is written back: parseForwardValue gives the same destination again.
std::string forwardValueText(const HostPort& destination);

}  // namespace net
