#include "filter/IpFilter.h"

#include <algorithm>
#include <string_view>

namespace {

// Values above this are all the same to us: any field or prefix over 255 is refused,
// so a long digit run saturates here instead of overflowing.
constexpr int32_t kSaturated = 2147483647;

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// Decimal value of a run of digits (empty is 0), saturating at kSaturated.
int32_t decimalValue(std::string_view digits) {
  int32_t value = 0;
  for (char ch : digits) {
    const int32_t digit = ch - '0';
    if (value > (kSaturated - digit) / 10) return kSaturated;
    value = value * 10 + digit;
  }
  return value;
}

// Splits "a.b.c.d" into its four fields. The first two dots must not be the last
// character; the third may be, and everything after it is the fourth field, so a
// fourth dot lands there and fails the digit test. Works on the whole view, so an
// embedded NUL is just another non-digit.
bool parseDottedQuad(std::string_view text, unsigned char out[4]) {
  constexpr auto npos = std::string_view::npos;
  const size_t length = text.size();
  if (length == 0) return false;
  const size_t p1 = text.find('.');
  if (p1 == npos || p1 + 1 >= length) return false;
  const size_t p2 = text.find('.', p1 + 1);
  if (p2 == npos || p2 + 1 >= length) return false;
  const size_t p3 = text.find('.', p2 + 1);
  if (p3 == npos) return false;

  const std::string_view fields[4] = {text.substr(0, p1), text.substr(p1 + 1, p2 - p1 - 1),
                                      text.substr(p2 + 1, p3 - p2 - 1), text.substr(p3 + 1)};
  for (const auto& field : fields)
    if (!allDigits(field)) return false;
  int32_t values[4];
  for (int i = 0; i < 4; ++i) {
    values[i] = decimalValue(fields[i]);
    if (values[i] > 255) return false;
  }
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(values[i]);
  return true;
}

uint32_t addressValue(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
  return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | uint32_t{d};
}

// A count written outside 0..kMaxRules must not walk off the list.
int usedEntries(int32_t count) { return std::clamp<int32_t>(count, 0, CIpFilter::kMaxRules); }

}  // namespace

const uint32_t CIpFilter::prefixMasks[33] = {
    0x00000000u, 0x80000000u, 0xC0000000u, 0xE0000000u, 0xF0000000u, 0xF8000000u, 0xFC000000u,
    0xFE000000u, 0xFF000000u, 0xFF800000u, 0xFFC00000u, 0xFFE00000u, 0xFFF00000u, 0xFFF80000u,
    0xFFFC0000u, 0xFFFE0000u, 0xFFFF0000u, 0xFFFF8000u, 0xFFFFC000u, 0xFFFFE000u, 0xFFFFF000u,
    0xFFFFF800u, 0xFFFFFC00u, 0xFFFFFE00u, 0xFFFFFF00u, 0xFFFFFF80u, 0xFFFFFFC0u, 0xFFFFFFE0u,
    0xFFFFFFF0u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFEu, 0xFFFFFFFFu,
};

CIpFilter::CIpFilter() = default;
CIpFilter::~CIpFilter() = default;
CIpFilter::CIpFilter(const CIpFilter& other) = default;
CIpFilter& CIpFilter::operator=(const CIpFilter& other) = default;

int CIpFilter::isAccept(const std::string& address) const {
  switch (mode) {
    case ModeLocalHost: return isLocalHost(address);
    case ModePrivate: return isPrivateAddress(address);
    case ModeRules: return isAcceptByRules(address);
    default: return 1;
  }
}

int CIpFilter::isAcceptByRules(const std::string& address) const {
  const int allowed = usedEntries(allowCount);
  int i = 0;
  while (i < allowed && !matchRule(allowRules[i], address)) ++i;
  if (i == allowed) return 0;

  const int denied = usedEntries(denyCount);
  for (int j = 0; j < denied; ++j)
    if (matchRule(denyRules[j], address)) return 0;
  return 1;
}

int CIpFilter::isLocalHost(const std::string& address) {
  unsigned char q[4];
  if (!parseDottedQuad(address, q)) return 0;
  return q[0] == 127 && q[1] == 0 && q[2] == 0 && q[3] == 1 ? 1 : 0;
}

int CIpFilter::isPrivateAddress(const std::string& address) {
  unsigned char q[4];
  if (!parseDottedQuad(address, q)) return 0;
  const bool isPrivate = q[0] == 10 || (q[0] == 172 && q[1] >= 16 && q[1] <= 31) ||
                         (q[0] == 192 && q[1] == 168) ||
                         (q[0] == 192 && q[1] == 0 && q[2] == 2) || q[0] == 127;
  return isPrivate ? 1 : 0;
}

int CIpFilter::matchRule(const std::string& rule, const std::string& address) {
  unsigned char a, b, c, d;
  int32_t prefix, ignoredPrefix;
  if (!parseAddress(rule, a, b, c, d, prefix)) return 0;
  const uint32_t ruleValue = addressValue(a, b, c, d);
  if (!parseAddress(address, a, b, c, d, ignoredPrefix)) return 0;
  const uint32_t mask = prefixMasks[prefix];  // parseAddress keeps prefix within 0..32
  return (ruleValue & mask) == (addressValue(a, b, c, d) & mask) ? 1 : 0;
}

int CIpFilter::parseAddress(const std::string& text, unsigned char& a, unsigned char& b,
                            unsigned char& c, unsigned char& d, int32_t& prefix) {
  a = b = c = d = 0;
  prefix = 32;
  const std::string_view whole(text);
  const size_t slash = whole.find('/');
  const std::string_view addressPart = whole.substr(0, slash);

  unsigned char q[4];
  if (!parseDottedQuad(addressPart, q)) return 0;
  int32_t length = 32;
  if (slash != std::string_view::npos) {
    const std::string_view prefixPart = whole.substr(slash + 1);
    if (!allDigits(prefixPart)) return 0;
    length = decimalValue(prefixPart);
    if (length > 32) return 0;
  }
  prefix = length;
  a = q[0];
  b = q[1];
  c = q[2];
  d = q[3];
  return 1;
}

int CIpFilter::isDigits(const char* text) {
  if (text == nullptr) return 0;
  return allDigits(std::string_view(text)) ? 1 : 0;
}
