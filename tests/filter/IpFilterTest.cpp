// Rule and address parsing, matching, and the serving decision in each mode.
#include "filter/IpFilter.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

// "a.b.c.d/p" as parsed, with "refused " in front on failure; the 9s catch a missing reset.
static std::string parsed(const std::string& text) {
  unsigned char q[4] = {9, 9, 9, 9};
  int32_t prefix = 9;
  const int ok = CIpFilter::parseAddress(text, q[0], q[1], q[2], q[3], prefix);
  return (ok ? ""s : "refused "s) + std::to_string(q[0]) + "." + std::to_string(q[1]) + "." +
         std::to_string(q[2]) + "." + std::to_string(q[3]) + "/" + std::to_string(prefix);
}

TEST(IpFilterParse, IPv4RuleTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"255.255.255.255", "255.255.255.255/32"}, {"010.000.0.09", "10.0.0.9/32"},
      {"1..3.4", "1.0.3.4/32"}, {".1.2.3", "0.1.2.3/32"}, {"1.2.3.", "1.2.3.0/32"},
      {"1.2.3.4/0", "1.2.3.4/0"}, {"1.2.3.4/032", "1.2.3.4/32"}, {"1.2.3.4/", "1.2.3.4/0"}};
  for (const auto& [text, want] : cases) EXPECT_EQ(parsed(text), want) << text;
  const std::string refused[] = {
      "", "1.2.", "1.2.3", "1.2.3.4.", "1.2.3.4.5", " 1.2.3.4", "+1.2.3.4", "256.1.1.1",
      "1.2.3.256", "1.2.3.4/33", "1.2.3.4/8/9", "1.2.3.4/-1", "/8", "1.2.3.\xB4", "::1",
      // Digit runs saturate rather than wrap back into range (2^32 + 1, 2^32 + 32).
      "4294967297.0.0.1", "99999999999999999999999.0.0.1", "1.2.3.4/4294967328",
      "1.2.3.4\0"s, "1.2\0.3.4"s, "1.2.3.4/2\0"s};
  for (const auto& text : refused)
    EXPECT_EQ(parsed(text), "refused 0.0.0.0/32") << testing::PrintToString(text);
  EXPECT_TRUE(CIpFilter::isDigits("0123456789") && !CIpFilter::isDigits("1\xB1"));
}

// A rule matches when the address's leading prefix bits equal the rule's.
TEST(IpFilterMatch, PrefixRulesOfEitherFamily) {
  const struct { const char* rule; const char* address; int want; } matches[] = {
      {"10.0.0.0/8", "10.255.0.1", 1}, {"10.0.0.0/8", "11.0.0.1", 0}, {"1.2.3.4/32", "1.2.3.5", 0},
      {"1.2.3.4/31", "1.2.3.5", 1}, {"1.2.3.4/31", "1.2.3.6", 0}, {"128.0.0.0/1", "127.0.0.1", 0},
      {"0.0.0.0/0", "203.0.113.9", 1}, {"1.2.3.4/", "8.8.8.8", 1}, {"1.2.3.4/33", "1.2.3.4", 0},
      {"0.0.0.0/0", "1.2.3", 0}, {"1.2.3.4", "1.2.3.4/16", 1}, {"0.0.0.0/0", "10.0.0.1/99", 0},
      {"2001:db8::/32", "2001:db8:ffff::1", 1}, {"2001:db8::/32", "2001:db9::1", 0},
      {"2001:db8::1", "2001:db8::1", 1}, {"2001:db8::1", "2001:db8::2", 0},
      {"2001:db8::/33", "2001:db8:8000::1", 0}, {"2001:db8::/33", "2001:db8:7fff::1", 1},
      {"::/0", "2001:db8::1", 1}, {"::/0", "10.0.0.1", 1},
      // IPv4 rules cover IPv4 and IPv4-mapped peers only, with IPv4 prefix lengths.
      {"10.0.0.0/8", "::ffff:10.9.8.7", 1}, {"10.0.0.0/8", "::ffff:11.0.0.1", 0},
      {"0.0.0.0/0", "2001:db8::1", 0}, {"0.0.0.0/0", "::1", 0}, {"127.0.0.1", "::1", 0},
      {"::ffff:10.0.0.0/104", "10.200.0.1", 1}, {"::ffff:10.0.0.0/104", "11.0.0.1", 0},
      // Refused rule texts match nothing: a prefix out of range, empty or overlong, a zone, junk.
      {"::/129", "::1", 0}, {"::/", "::1", 0}, {"::/0000", "::1", 0}, {"fe80::%1/10", "fe80::1", 0},
      {"2001:db8::/3x", "2001:db8::1", 0}, {"2001:db8:::/32", "2001:db8::1", 0}};
  for (const auto& [rule, address, want] : matches)
    EXPECT_EQ(CIpFilter::matchRule(rule, address), want) << rule << " vs " << address;
  EXPECT_EQ(CIpFilter::matchRule("::1\0x"s, "::1"), 0) << "an embedded NUL must not cut the text short";
  EXPECT_TRUE(CIpFilter::isValidRule("2001:db8::/32") && CIpFilter::isValidRule("1.2.3.4/") &&
              !CIpFilter::isValidRule("2001:db8::/") && !CIpFilter::isValidRule("localhost"));
}

static CIpFilter filterOf(int mode, std::initializer_list<const char*> allow = {},
                          std::initializer_list<const char*> deny = {}) {
  CIpFilter f;
  f.mode = mode;
  for (const char* rule : allow) f.allowRules[f.allowCount++] = rule;
  for (const char* rule : deny) f.denyRules[f.denyCount++] = rule;
  return f;
}

static void expectServes(const CIpFilter& f, std::initializer_list<const char*> served,
                         std::initializer_list<const char*> refused) {
  for (auto [list, want] : {std::pair{served, 1}, {refused, 0}})
    for (const char* a : list) EXPECT_EQ(f.isAccept(a), want) << "mode " << f.mode << ", " << a;
}

// IPv4-mapped peers are judged as their IPv4 address. (That every other mode serves anyone is
// one of the fuzzer's invariants.)
TEST(IpFilterMode, FixedModesForEitherFamily) {
  expectServes(filterOf(CIpFilter::ModeLocalHost),
               {"127.0.0.1", "127.000.000.001", "::1", "0:0:0:0:0:0:0:1", "::ffff:127.0.0.1", "::FFFF:7f00:1"},
               {"127.0.0.2", "127.0.0.1/32", "localhost", "", "::", "::2", "::1/128", "::ffff:127.0.0.2", "fe80::1",
                "::1%lo", "[::1]", "::127.0.0.1"});
  expectServes(filterOf(CIpFilter::ModePrivate),
               {"10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.0.1", "192.0.2.5", "127.5.5.5", "::1", "fc00::1",
                "fd12:3456::9", "fe80::1", "febf:ffff::1", "::ffff:10.1.2.3", "::ffff:192.168.0.1", "::ffff:127.5.5.5"},
               {"172.15.0.1", "172.32.0.1", "192.0.3.1", "192.169.0.1", "8.8.8.8", "10.0.0.1/8", "::", "fbff::1",
                "fe00::1", "fec0::1", "2001:db8::1", "::ffff:8.8.8.8", "::ffff:172.32.0.1", "::ffff:10.0.0.256",
                "1:2:3:4:5:6:7:8:9", "::1::"});
}

TEST(IpFilterMode, RulesNeedAnAllowMatchAndNoDenyMatch) {
  const int rules = CIpFilter::ModeRules;
  expectServes(filterOf(rules, {}, {"1.2.3.4"}), {}, {"1.2.3.4", "8.8.8.8"});
  expectServes(filterOf(rules, {"192.168.1.0/24"}, {"192.168.1.13"}), {"192.168.1.12"},
               {"192.168.1.13", "192.168.2.1", "bad"});
  // An allow rule that fails to parse or match does not stop a later one; a bad deny rule refuses nobody.
  expectServes(filterOf(rules, {"1.2.3.4/33", "9.9.9.9", "10.0.0.0/8"}, {"1.2.3"}), {"10.9.9.9", "9.9.9.9"},
               {"1.2.3.4", "1.2.3"});
  // A deny rule of one family leaves the other alone.
  expectServes(filterOf(rules, {"::/0"}, {"2001:db8::/32", "10.0.0.0/8"}), {"2001:db9::1", "192.168.0.1", "::1"},
               {"2001:db8::5", "10.1.1.1", "::ffff:10.1.1.1"});
  expectServes(filterOf(rules, {"0.0.0.0/0"}), {"1.2.3.4", "::ffff:1.2.3.4"}, {"::1", "2001:db8::1"});

  // Only the first allowCount / denyCount entries count, clamped to the lists.
  CIpFilter f = filterOf(rules, {"10.0.0.0/8"});
  f.allowRules[9] = "1.2.3.4", f.denyRules[9] = "10.0.0.1";
  expectServes(f, {"10.0.0.1"}, {"1.2.3.4"});
  f.allowCount = f.denyCount = INT32_MAX;
  expectServes(f, {"1.2.3.4", "10.0.0.2"}, {"10.0.0.1", "1.2.3.5"});
  f.allowCount = -5;
  expectServes(f, {}, {"1.2.3.4"});
}
