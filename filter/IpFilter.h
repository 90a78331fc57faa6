#pragma once

#include <cstdint>
#include <string>

// Decides whether a peer that a forwarding slot has just accepted is served,
// from the peer's address as text ("127.0.0.1", "::1", "::ffff:10.0.0.5").
//
// Rule and address text: IPv4 as four decimal fields separated by "." (an empty
// field is 0, leading zeros are decimal, each field at most 255), optionally
// followed by "/" and a prefix length of 0..32 (absent is 32, empty is refused); or
// IPv6 with an optional prefix length of 0..128 (see IpAddress.h). An IPv4-mapped
// peer is judged as the IPv4 address it carries; an IPv4 rule covers no native
// IPv6 peer.
//
// The fields are plain data: an owner that wants another mode writes `mode`,
// the counts and the rule strings directly. Counts are meant to stay within
// 0..kMaxRules; values outside are clamped when the lists are read.
class CIpFilter {
public:
  // ModeInvalid stands for a mode the settings named wrongly; like any mode outside 0..3 it
  // serves nobody.
  enum { ModeInvalid = -1, ModeAcceptAll = 0, ModeLocalHost = 1, ModePrivate = 2, ModeRules = 3 };
  static constexpr int kMaxRules = 10;

  int32_t mode = ModeAcceptAll;
  int32_t allowCount = 0;
  int32_t denyCount = 0;
  std::string allowRules[kMaxRules];
  std::string denyRules[kMaxRules];

  CIpFilter();
  virtual ~CIpFilter();
  CIpFilter(const CIpFilter& other);
  // Copies the mode, both counts and all 20 rule strings, also those beyond the counts.
  CIpFilter& operator=(const CIpFilter& other);

  // 1 serve, 0 refuse. Modes outside 0..3 refuse everyone.
  int isAccept(const std::string& address) const;
  // Served when some allow rule matches and no deny rule does; no allow rules refuse all. An
  // empty entry within a count is a gap that matches nothing.
  int isAcceptByRules(const std::string& address) const;

  // 1 only for 127.0.0.1 (leading zeros allowed, no prefix part) and ::1.
  static int isLocalHost(const std::string& address);
  // 1 for 10/8, 172.16/12, 192.168/16, 192.0.2/24, 127/8, ::1, fc00::/7 and fe80::/10.
  static int isPrivateAddress(const std::string& address);
  // 1 when the address's first n bits equal the rule's (n = the rule's prefix length).
  // Both texts must parse; a prefix part on the address is checked but ignored.
  static int matchRule(const std::string& rule, const std::string& address);
  // 1 when the rule text parses (of either family), so it can take part in a match.
  static int isValidRule(const std::string& rule);
  // IPv4 only. Sets a..d to 0 and prefix to 32 first; on success stores the parsed values and returns 1.
  static int parseAddress(const std::string& text, unsigned char& a, unsigned char& b, unsigned char& c,
                          unsigned char& d, int32_t& prefix);
  // 1 if every character is '0'..'9' (also for the empty text).
  static int isDigits(const char* text);

  // Entry n has its n most significant bits set.
  static const uint32_t prefixMasks[33];
};
