// Rule and address parsing, and the serving decision in each mode for IPv4, IPv6 and
// IPv4-mapped peers, as tables.
#include "filter/IpFilter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace std::string_literals;

// "a.b.c.d/p" as parsed, with "refused " in front on failure; the 9s catch a missing reset.
static std::string parsed(const std::string& text) {
  unsigned char q[4] = {9, 9, 9, 9};
  int32_t prefix = 9;
  const int ok = CIpFilter::parseAddress(text, q[0], q[1], q[2], q[3], prefix);
  return (ok ? ""s : "refused "s) + std::to_string(q[0]) + "." + std::to_string(q[1]) + "." + std::to_string(q[2]) +
         "." + std::to_string(q[3]) + "/" + std::to_string(prefix);
}

TEST(IpFilterParse, IPv4RuleTexts) {
  const std::string cases[] = {"255.255.255.255", "255.255.255.255/32", "010.000.0.09", "10.0.0.9/32",
                               "1..3.4",          "1.0.3.4/32",         ".1.2.3",       "0.1.2.3/32",
                               "1.2.3.",          "1.2.3.0/32",         "1.2.3.4/0",    "1.2.3.4/0",
                               "1.2.3.4/032",     "1.2.3.4/32"};  // each text, then what it parses to
  for (size_t i = 0; i < std::size(cases); i += 2) EXPECT_EQ(parsed(cases[i]), cases[i + 1]) << cases[i];
  const std::string refused[] = {"", "1.2.", "1.2.3", "1.2.3.4.", "1.2.3.4.5", " 1.2.3.4", "+1.2.3.4", "256.1.1.1",
                                 "1.2.3.256", "1.2.3.4/", "1.2.3.4/33", "1.2.3.4/8/9", "1.2.3.4/-1", "/8", "1.2.3.\xB4",
                                 "::1",
                                 // Digit runs saturate rather than wrap back into range (2^32 + 1, 2^32 + 32).
                                 "4294967297.0.0.1", "99999999999999999999999.0.0.1", "1.2.3.4/4294967328",
                                 "1.2.3.4\0"s, "1.2\0.3.4"s, "1.2.3.4/2\0"s};
  for (const auto& text : refused) EXPECT_EQ(parsed(text), "refused 0.0.0.0/32") << testing::PrintToString(text);
  EXPECT_TRUE(CIpFilter::isDigits("0123456789") && !CIpFilter::isDigits("1\xB1"));
}

static std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w == "''" ? "" : w);
  return out;
}

// Each row: a filter, then peers it serves and peers it refuses. A rule matches when the
// peer's leading prefix bits equal the rule's; an IPv4 rule covers IPv4 and IPv4-mapped
// peers only; a rule or peer text that does not parse matches nothing.
TEST(IpFilterDecision, EveryModeForEitherFamily) {
  const int R = CIpFilter::ModeRules;
  // Space-separated texts; '' stands for the empty text.
  const struct {
    int mode;
    std::string allow, deny, served, refused;
  } rows[] = {
      {CIpFilter::ModeAcceptAll, "", "", "'' junk ::1", ""},
      {7, "1.2.3.4", "", "", "'' 8.8.8.8"},  // an unknown mode serves nobody
      {CIpFilter::ModeLocalHost, "", "", "127.0.0.1 127.000.000.001 ::1 0:0:0:0:0:0:0:1 ::ffff:127.0.0.1 ::FFFF:7f00:1",
       "127.0.0.2 127.0.0.1/32 localhost '' :: ::2 ::1/128 ::ffff:127.0.0.2 fe80::1 ::1%lo [::1] ::127.0.0.1"},
      {CIpFilter::ModePrivate, "", "",
       "10.1.2.3 172.16.0.1 172.31.255.255 192.168.0.1 192.0.2.5 127.5.5.5 ::1 fc00::1 fd12:3456::9 fe80::1 "
       "febf:ffff::1 ::ffff:10.1.2.3 ::ffff:192.168.0.1 ::ffff:127.5.5.5",
       "172.15.0.1 172.32.0.1 192.0.3.1 192.169.0.1 8.8.8.8 10.0.0.1/8 :: fbff::1 fe00::1 fec0::1 2001:db8::1 "
       "::ffff:8.8.8.8 ::ffff:172.32.0.1 ::ffff:10.0.0.256 1:2:3:4:5:6:7:8:9 ::1::"},
      {R, "", "1.2.3.4", "", "1.2.3.4 8.8.8.8"},  // no allow rule: nobody
      {R, "192.168.1.0/24", "192.168.1.13", "192.168.1.12", "192.168.1.13 192.168.2.1 bad"},
      // A bad or unmatched allow rule does not stop a later one; a bad deny rule refuses nobody.
      {R, "1.2.3.4/33 9.9.9.9 10.0.0.0/8", "1.2.3", "10.9.9.9 9.9.9.9", "1.2.3.4 1.2.3"},
      // A deny rule of one family leaves the other alone.
      {R, "::/0", "2001:db8::/32 10.0.0.0/8", "2001:db9::1 192.168.0.1 ::1", "2001:db8::5 10.1.1.1 ::ffff:10.1.1.1"},
      // Rules that cover none of the others' peers, so each served peer is its own rule's; a
      // peer's prefix part is ignored.
      {R, "10.0.0.0/8 1.2.3.4/31 128.0.0.0/1 2001:db8::/33 2001:db8:ffff::1 ::ffff:100.64.0.0/106", "",
       "10.255.0.1 ::ffff:10.9.8.7 1.2.3.5 1.2.3.4/16 200.0.0.1 2001:db8:7fff::1 2001:db8:ffff::1 100.127.0.1",
       "11.0.0.1 ::ffff:11.0.0.1 10.0.0.1/99 1.2.3.6 127.0.0.1 2001:db8:8000::1 2001:db8:ffff::2 100.128.0.1"},
      {R, "1.2.3.4", "", "1.2.3.4", "1.2.3.5 ::1.2.3.4"},
      // An empty IPv4 prefix is no rule: it must not admit every IPv4 peer as 0.0.0.0/0 would.
      {R, "1.2.3.4/", "", "", "203.0.113.9 ::ffff:1.2.3.4 1.2.3 ::1 2001:db8::1 ''"},
      // Refused rule texts: a prefix out of range, empty or overlong, a zone, junk, an embedded NUL.
      {R, "::/129 ::/ ::/0000 fe80::%1/10 2001:db8::/3x 2001:db8:::/32 ::1\0x 1.2.3.4/33"s, "", "",
       ":: ::1 fe80::1 2001:db8::1 1.2.3.4"},
  };
  for (const auto& row : rows) {
    CIpFilter f;
    f.mode = row.mode;
    for (const std::string& rule : words(row.allow)) f.allowRules[f.allowCount++] = rule;
    for (const std::string& rule : words(row.deny)) f.denyRules[f.denyCount++] = rule;
    for (auto [peers, want] : {std::pair{&row.served, 1}, {&row.refused, 0}})
      for (const std::string& peer : words(*peers))
        EXPECT_EQ(f.isAccept(peer), want) << "mode " << f.mode << " " << row.allow << ": " << peer;
  }

  // Only the first allowCount / denyCount entries count, clamped to the lists.
  CIpFilter f;
  f.mode = R, f.allowCount = 1, f.allowRules[0] = "10.0.0.0/8";
  f.allowRules[9] = "1.2.3.4", f.denyRules[9] = "10.0.0.1";
  EXPECT_TRUE(f.isAccept("10.0.0.1") && !f.isAccept("1.2.3.4"));
  f.allowCount = f.denyCount = INT32_MAX;
  EXPECT_TRUE(f.isAccept("1.2.3.4") && f.isAccept("10.0.0.2") && !f.isAccept("10.0.0.1") && !f.isAccept("1.2.3.5"));
  f.allowCount = -5;
  EXPECT_FALSE(f.isAccept("1.2.3.4"));
}
