// libFuzzer target for the address filter (IPv4 and IPv6 texts). Line 1 is the address, line 2 the rule for the
// single-rule checks; the lines after the first fill the allow, then the deny list.
#include "filter/IpAddress.h"
#include "filter/IpFilter.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static void require(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what), std::abort();
}

// A successful parse must survive being written out plainly and parsed again.
static void checkParse(const std::string& text) {
  unsigned char q[8];
  int32_t prefix, prefix2;
  if (!CIpFilter::parseAddress(text, q[0], q[1], q[2], q[3], prefix))
    return require((q[0] | q[1] | q[2] | q[3]) == 0 && prefix == 32, "reset on failure");
  std::string again = std::to_string(prefix);
  for (int i = 3; i >= 0; --i) again = std::to_string(q[i]) + (i == 3 ? "/" : ".") + again;
  require(CIpFilter::parseAddress(again, q[4], q[5], q[6], q[7], prefix2) == 1, "reparse");
  require(prefix >= 0 && prefix <= 32 && prefix == prefix2 && std::string(q, q + 4) == std::string(q + 4, q + 8),
          "round trip");
  require(CIpFilter::matchRule(text, text) == 1, "a parsed text matches itself");
}

// The same for either family: the plain form parses back to the same prefix, and an IPv4
// address written as IPv4-mapped IPv6 is the same address.
static void checkParseEitherFamily(const std::string& text) {
  ipaddr::Prefix first, again;
  if (!ipaddr::parsePrefix(text, first))
    return require(CIpFilter::matchRule(text, "::1") == 0, "refused matches nothing");
  require(first.length >= 0 && first.length <= 128, "prefix in range");
  require(ipaddr::parsePrefix(ipaddr::toText(first), again) == 1, "reparse either family");
  require(again.bytes == first.bytes && again.length == first.length, "round trip either family");
  require(CIpFilter::matchRule(text, text) == 1 && CIpFilter::matchRule("::/0", text) == 1, "matches itself and ::/0");
  require(CIpFilter::isValidRule(text) == 1, "valid rule");
}

// A dotted address and its IPv4-mapped form must get the same answer everywhere.
static void checkMappedAlike(const std::string& address, CIpFilter& filter) {
  unsigned char q[4];
  int32_t prefix;
  if (address.find('/') != std::string::npos || !CIpFilter::parseAddress(address, q[0], q[1], q[2], q[3], prefix))
    return;
  const std::string mapped = "::ffff:" + std::to_string(q[0]) + "." + std::to_string(q[1]) + "." +
                             std::to_string(q[2]) + "." + std::to_string(q[3]);
  for (filter.mode = 0; filter.mode <= 3; ++filter.mode)
    require(filter.isAccept(mapped) == filter.isAccept(address), "mapped peer judged as IPv4");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) data[i] == '\n' ? lines.emplace_back() : lines.back() += static_cast<char>(data[i]);
  const std::string& address = lines[0];
  const std::string rule = lines.size() > 1 ? lines[1] : std::string();
  for (const std::string* text : {&address, &rule}) checkParse(*text), checkParseEitherFamily(*text);
  const int local = CIpFilter::isLocalHost(address), privateRange = CIpFilter::isPrivateAddress(address);
  require(!local || privateRange, "local host is private");
  require(CIpFilter::matchRule("::/0", address) >= CIpFilter::matchRule(rule, address), "::/0 matches all");
  if (address.find(':') == std::string::npos)  // an IPv4 /0 covers every IPv4 text
    require(CIpFilter::matchRule("0.0.0.0/0", address) >= CIpFilter::matchRule(rule, address), "/0 matches all");

  CIpFilter filter;  // the first byte picks how many rule lines go to the allow list
  const size_t allowLines = size > 0 ? data[0] % (CIpFilter::kMaxRules + 1) : 0;
  for (size_t i = 1; i < lines.size() && filter.denyCount < CIpFilter::kMaxRules; ++i)
    (i <= allowLines ? filter.allowRules[filter.allowCount++] : filter.denyRules[filter.denyCount++]) = lines[i];
  for (filter.mode = -1; filter.mode <= 4; ++filter.mode) {
    const int want[] = {1, local, privateRange, filter.isAcceptByRules(address)};
    const int accepted = filter.isAccept(address);
    require(accepted == (filter.mode >= 0 && filter.mode <= 3 ? want[filter.mode] : 0), "mode decides");
    require(CIpFilter(filter).isAccept(address) == accepted, "copy decides alike");
  }
  checkMappedAlike(address, filter);
  return 0;
}
