// libFuzzer target for the address filter. The input is split into lines: the
// first is the address, the second the rule for the single-rule checks, and the
// lines after the first fill the allow and deny lists of a rules filter.
#include "filter/IpFilter.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

std::vector<std::string> splitLines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') lines.emplace_back();
    else lines.back().push_back(static_cast<char>(data[i]));
  }
  return lines;
}

// A successful parse must survive being written out plainly and parsed again.
void checkParse(const std::string& text) {
  unsigned char a, b, c, d;
  int32_t prefix;
  if (!CIpFilter::parseAddress(text, a, b, c, d, prefix)) {
    require(a == 0 && b == 0 && c == 0 && d == 0 && prefix == 32, "reset on failure");
    return;
  }
  require(prefix >= 0 && prefix <= 32, "prefix range");
  const std::string again = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) +
                            "." + std::to_string(d) + "/" + std::to_string(prefix);
  unsigned char a2, b2, c2, d2;
  int32_t prefix2;
  require(CIpFilter::parseAddress(again, a2, b2, c2, d2, prefix2) == 1, "reparse");
  require(a == a2 && b == b2 && c == c2 && d == d2 && prefix == prefix2, "round trip");
  require(CIpFilter::matchRule(text, text) == 1, "a parsed text matches itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = splitLines(data, size);
  const std::string& address = lines[0];
  const std::string rule = lines.size() > 1 ? lines[1] : std::string();

  checkParse(address);
  checkParse(rule);
  CIpFilter::isDigits(address.c_str());
  const int local = CIpFilter::isLocalHost(address);
  const int privateRange = CIpFilter::isPrivateAddress(address);
  require(!local || privateRange, "local host is private");
  const int matched = CIpFilter::matchRule(rule, address);
  require(CIpFilter::matchRule("0.0.0.0/0", address) >= matched, "/0 matches whatever parses");

  // The first byte picks where the rule lines switch from allow to deny.
  CIpFilter filter;
  const size_t allowLines = size > 0 ? data[0] % (CIpFilter::kMaxRules + 1) : 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (i <= allowLines && filter.allowCount < CIpFilter::kMaxRules)
      filter.allowRules[filter.allowCount++] = lines[i];
    else if (filter.denyCount < CIpFilter::kMaxRules)
      filter.denyRules[filter.denyCount++] = lines[i];
  }
  for (int mode = -1; mode <= 4; ++mode) {
    filter.mode = mode;
    const int accepted = filter.isAccept(address);
    if (mode == CIpFilter::ModeLocalHost) require(accepted == local, "mode 1");
    else if (mode == CIpFilter::ModePrivate) require(accepted == privateRange, "mode 2");
    else if (mode == CIpFilter::ModeRules) require(accepted == filter.isAcceptByRules(address), "mode 3");
    else require(accepted == 1, "other modes serve everyone");
  }
  const CIpFilter copy(filter);
  require(copy.isAccept(address) == filter.isAccept(address), "copy decides alike");
  return 0;
}
