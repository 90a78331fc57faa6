#pragma once
// Literal addresses a listening socket can be bound to (a slot's listen address).
#include <string>

namespace net {

// AF_INET or AF_INET6 for a literal address text ("127.0.0.1", "::1", "::"), 0 for anything
// else (host names included: a listen address is never looked up).
int literalFamily(const std::string& text);

// True when a socket can be bound to the address on this machine: one of its own addresses or
// a wildcard ("0.0.0.0", "::"). Tries a bind to port 0 and lets it go at once.
bool isLocalAddress(const std::string& text);

}  // namespace net
