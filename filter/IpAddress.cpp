#include "filter/IpAddress.h"

#include <algorithm>
#include <arpa/inet.h>

namespace ipaddr {
namespace {

// Values above this are all the same to us: any field or prefix over 255 is refused,
// so a long digit run saturates here instead of overflowing.
constexpr int32_t kSaturated = 2147483647;
constexpr int32_t kMappedBits = 96;  // ::ffff:0:0/96 holds the IPv4 addresses
constexpr size_t kMaxIPv6PrefixDigits = 3;

void setMapped(Bytes& out, const unsigned char quad[4]) {
  out.fill(0);
  out[10] = out[11] = 0xff;
  std::copy(quad, quad + 4, out.begin() + 12);
}

bool parseIPv6(std::string_view text, Bytes& out) {
  // inet_pton reads a C string: an embedded NUL would cut the text short and let the rest pass.
  if (text.find('\0') != std::string_view::npos) return false;
  const std::string copy(text);
  unsigned char bytes[16];
  if (inet_pton(AF_INET6, copy.c_str(), bytes) != 1) return false;
  std::copy(bytes, bytes + 16, out.begin());
  return true;
}

}  // namespace

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

int32_t decimalValue(std::string_view digits) {
  int32_t value = 0;
  for (char ch : digits) {
    const int32_t digit = ch - '0';
    if (value > (kSaturated - digit) / 10) return kSaturated;
    value = value * 10 + digit;
  }
  return value;
}

// The first two dots must not be the last character; the third may be, and everything after
// it is the fourth field, so a fourth dot lands there and fails the digit test. Works on the
// whole view, so an embedded NUL is just another non-digit.
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

bool parseHost(std::string_view text, Bytes& out) {
  if (text.find(':') != std::string_view::npos) return parseIPv6(text, out);
  unsigned char quad[4];
  if (!parseDottedQuad(text, quad)) return false;
  setMapped(out, quad);
  return true;
}

bool parsePrefix(std::string_view text, Prefix& out) {
  const size_t slash = text.find('/');
  const std::string_view address = text.substr(0, slash);
  const bool v6 = address.find(':') != std::string_view::npos;
  Bytes bytes;
  if (!parseHost(address, bytes)) return false;
  int32_t length = v6 ? 128 : 32;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    // An empty prefix would be /0 and cover every address: a typo must not admit the world.
    if (digits.empty() || !allDigits(digits)) return false;
    if (v6 && digits.size() > kMaxIPv6PrefixDigits) return false;
    const int32_t value = decimalValue(digits);
    if (value > length) return false;
    length = value;
  }
  out.bytes = bytes;
  out.length = v6 ? length : kMappedBits + length;
  return true;
}

bool isIPv4Mapped(const Bytes& address) {
  return std::all_of(address.begin(), address.begin() + 10, [](unsigned char b) { return b == 0; }) &&
         address[10] == 0xff && address[11] == 0xff;
}

uint32_t mappedIPv4(const Bytes& address) {
  return (uint32_t{address[12]} << 24) | (uint32_t{address[13]} << 16) | (uint32_t{address[14]} << 8) |
         uint32_t{address[15]};
}

bool covers(const Prefix& rule, const Bytes& address) {
  const int32_t bits = std::clamp<int32_t>(rule.length, 0, 128);
  const int whole = bits / 8;
  if (!std::equal(rule.bytes.begin(), rule.bytes.begin() + whole, address.begin())) return false;
  if (bits % 8 == 0) return true;
  const unsigned mask = (0xffu << (8 - bits % 8)) & 0xffu;
  return (rule.bytes[whole] & mask) == (address[whole] & mask);
}

std::string toText(const Prefix& prefix) {
  if (isIPv4Mapped(prefix.bytes) && prefix.length >= kMappedBits) {
    const uint32_t v4 = mappedIPv4(prefix.bytes);
    return std::to_string(v4 >> 24) + "." + std::to_string((v4 >> 16) & 0xff) + "." + std::to_string((v4 >> 8) & 0xff) +
           "." + std::to_string(v4 & 0xff) + "/" + std::to_string(prefix.length - kMappedBits);
  }
  char text[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, prefix.bytes.data(), text, sizeof text)) return {};
  return std::string(text) + "/" + std::to_string(prefix.length);
}

}  // namespace ipaddr
