// Parsing of rule and address texts, and the prefix mask table.
#include "filter/IpFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Parsed {
  int ok;
  int a, b, c, d, prefix;
};

Parsed parse(const std::string& text) {
  unsigned char a = 9, b = 9, c = 9, d = 9;  // must be reset whatever the outcome
  int32_t prefix = 9;
  const int ok = CIpFilter::parseAddress(text, a, b, c, d, prefix);
  return {ok, a, b, c, d, prefix};
}

TEST(IpFilterParse, AcceptsFieldAndPrefixForms) {
  const struct { std::string text; Parsed want; } cases[] = {
      {"1.2.3.4", {1, 1, 2, 3, 4, 32}},
      {"255.255.255.255", {1, 255, 255, 255, 255, 32}},
      {"010.000.0.09", {1, 10, 0, 0, 9, 32}},  // leading zeros are decimal
      {"1..3.4", {1, 1, 0, 3, 4, 32}},          // empty fields count as 0
      {".1.2.3", {1, 0, 1, 2, 3, 32}},
      {"1.2.3.", {1, 1, 2, 3, 0, 32}},  // the third dot may end the text
      {"1.2..", {1, 1, 2, 0, 0, 32}},
      {"1.2.3.4/0", {1, 1, 2, 3, 4, 0}},
      {"1.2.3.4/32", {1, 1, 2, 3, 4, 32}},
      {"1.2.3.4/032", {1, 1, 2, 3, 4, 32}},
      {"1.2.3.4/", {1, 1, 2, 3, 4, 0}},  // an empty prefix counts as 0
  };
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(text);
    const Parsed got = parse(text);
    EXPECT_EQ(got.ok, want.ok);
    EXPECT_EQ(got.a, want.a);
    EXPECT_EQ(got.b, want.b);
    EXPECT_EQ(got.c, want.c);
    EXPECT_EQ(got.d, want.d);
    EXPECT_EQ(got.prefix, want.prefix);
  }
}

TEST(IpFilterParse, RejectsMalformedTextAndLeavesOnlyTheResetValues) {
  using namespace std::string_literals;
  const std::string cases[] = {
      "", "1.", "1.2.", "1.2.3", "1.2.3.4.5", "....", " 1.2.3.4", "1.2.3.4 ", "+1.2.3.4",
      "1.-2.3.4", "0x1.2.3.4", "256.1.1.1", "1.2.3.256", "1.2.3.4/33", "1.2.3.4/8/9",
      "1.2.3.4/8a", "1.2.3.4/-1", "/8", "localhost",
      // Long digit runs must saturate, not wrap back into range (2^32 + 1, 2^32 + 32).
      "4294967297.0.0.1", "99999999999999999999999.0.0.1", "1.2.3.4/4294967328",
      "1.2.3.4\0"s, "1.2\0.3.4"s, "1.2.3.4/2\0"s, "1.2.3.\xB4",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    const Parsed got = parse(text);
    EXPECT_EQ(got.ok, 0);
    EXPECT_EQ(got.a + got.b + got.c + got.d, 0);
    EXPECT_EQ(got.prefix, 32);
  }
}

TEST(IpFilterParse, IsDigitsAcceptsOnlyDecimalDigits) {
  EXPECT_EQ(CIpFilter::isDigits(""), 1);
  EXPECT_EQ(CIpFilter::isDigits("0123456789"), 1);
  for (const char* text : {"12a", " 1", "-1", "1.2", "\xB1"}) EXPECT_EQ(CIpFilter::isDigits(text), 0) << text;
}

TEST(IpFilterParse, PrefixMaskHasExactlyTheLeadingBitsSet) {
  for (int n = 0; n <= 32; ++n) {
    const uint32_t want = static_cast<uint32_t>((uint64_t{0xFFFFFFFF} << (32 - n)) & 0xFFFFFFFF);
    EXPECT_EQ(CIpFilter::prefixMasks[n], want) << n;
  }
}

TEST(IpFilterParse, MatchRuleComparesTheLeadingPrefixBits) {
  const struct { const char* rule; const char* address; int want; } cases[] = {
      {"10.0.0.0/8", "10.255.0.1", 1},      {"10.0.0.0/8", "11.0.0.1", 0},
      {"1.2.3.4/32", "1.2.3.4", 1},         {"1.2.3.4", "1.2.3.4", 1},
      {"1.2.3.4", "1.2.3.5", 0},            {"1.2.3.4/31", "1.2.3.5", 1},
      {"1.2.3.4/31", "1.2.3.6", 0},         {"128.0.0.0/1", "255.0.0.0", 1},
      {"128.0.0.0/1", "127.255.255.255", 0}, {"0.0.0.0/0", "203.0.113.9", 1},
      {"1.2.3.4/", "8.8.8.8", 1},           {"0.0.0.0/0", "1.2.3", 0},  // address must parse
      {"1.2.3.4/33", "1.2.3.4", 0},         {"1.2.3.4", "1.2.3.4/16", 1},  // address prefix ignored
      {"0.0.0.0/0", "10.0.0.1/99", 0},      // ...but must be valid
  };
  for (const auto& [rule, address, want] : cases)
    EXPECT_EQ(CIpFilter::matchRule(rule, address), want) << rule << " vs " << address;
}

}  // namespace
