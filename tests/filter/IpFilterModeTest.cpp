// Serving decisions in each mode, rule-list order and copying between filters.
#include "filter/IpFilter.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

CIpFilter rulesFilter(std::initializer_list<const char*> allow, std::initializer_list<const char*> deny) {
  CIpFilter f;
  f.mode = CIpFilter::ModeRules;
  for (const char* rule : allow) f.allowRules[f.allowCount++] = rule;
  for (const char* rule : deny) f.denyRules[f.denyCount++] = rule;
  return f;
}

void expectServes(const CIpFilter& f, std::initializer_list<const char*> served,
                  std::initializer_list<const char*> refused) {
  for (const char* a : served) EXPECT_EQ(f.isAccept(a), 1) << "mode " << f.mode << " should serve " << a;
  for (const char* a : refused) EXPECT_EQ(f.isAccept(a), 0) << "mode " << f.mode << " should refuse " << a;
}

TEST(IpFilterMode, NewFilterAndUnknownModesServeEveryone) {
  CIpFilter f;
  for (int mode : {int{CIpFilter::ModeAcceptAll}, 4, -1, INT_MIN}) {
    f.mode = mode;
    expectServes(f, {"", "garbage", "1.2.3.4.5", "8.8.8.8"}, {});
  }
}

TEST(IpFilterMode, LocalHostServesOnlyThatOneAddress) {
  CIpFilter f;
  f.mode = CIpFilter::ModeLocalHost;
  expectServes(f, {"127.0.0.1", "127.000.000.001"},
               {"127.0.0.2", "localhost", "127.0.0.1/32", "", "127.0.0.1 "});
}

TEST(IpFilterMode, PrivateServesLoopbackAndPrivateRanges) {
  CIpFilter f;
  f.mode = CIpFilter::ModePrivate;
  expectServes(f, {"10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.0.1", "192.0.2.5", "127.5.5.5"},
               {"172.15.0.1", "172.32.0.1", "192.0.3.1", "192.169.0.1", "8.8.8.8", "10.0.0.256",
                "10.0.0.1/8", ""});
}

TEST(IpFilterMode, RulesNeedAnAllowMatchAndNoDenyMatch) {
  expectServes(rulesFilter({}, {"1.2.3.4"}), {}, {"1.2.3.4", "8.8.8.8"});
  expectServes(rulesFilter({"192.168.1.0/24"}, {"192.168.1.13"}), {"192.168.1.12"},
               {"192.168.1.13", "192.168.2.1", "bad"});
  // A later allow rule still admits after an earlier one failed to parse or match.
  expectServes(rulesFilter({"1.2.3.4/33", "9.9.9.9", "10.0.0.0/8"}, {}), {"10.9.9.9", "9.9.9.9"},
               {"1.2.3.4"});
  // A deny rule that does not parse refuses nobody.
  expectServes(rulesFilter({"0.0.0.0/0"}, {"1.2.3", "1.2.3.4/99"}), {"1.2.3.4", "8.8.8.8"},
               {"1.2.3", "10.0.0.1/99"});
  expectServes(rulesFilter({"10.0.0.1"}, {}), {"10.0.0.1/16"}, {"10.0.0.2"});
}

TEST(IpFilterMode, RulesIgnoreEntriesBeyondTheCounts) {
  CIpFilter f = rulesFilter({"10.0.0.0/8"}, {"10.0.0.1"});
  f.allowRules[5] = "0.0.0.0/0";
  f.denyRules[5] = "10.0.0.2";
  expectServes(f, {"10.0.0.2"}, {"8.8.8.8", "10.0.0.1"});
}

TEST(IpFilterMode, CountsOutsideTheListsAreClampedNotOverrun) {
  CIpFilter f;
  f.mode = CIpFilter::ModeRules;
  f.allowRules[9] = "1.2.3.4";
  f.allowCount = INT32_MAX;
  f.denyCount = INT32_MAX;
  expectServes(f, {"1.2.3.4"}, {"1.2.3.5"});
  f.denyRules[9] = "1.2.3.4";
  expectServes(f, {}, {"1.2.3.4"});
  f.allowCount = -5;
  expectServes(f, {}, {"1.2.3.4"});
}

TEST(IpFilterMode, CopyTakesAllTwentyStringsWhateverTheCounts) {
  CIpFilter source = rulesFilter({"10.0.0.0/8"}, {});
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) {
    source.allowRules[i] = "a" + std::to_string(i);
    source.denyRules[i] = "d" + std::to_string(i);
  }
  CIpFilter target = rulesFilter({"1.1.1.1", "2.2.2.2"}, {"3.3.3.3"});
  target = source;
  const CIpFilter copy(source);
  const CIpFilter* const copies[] = {&target, &copy};
  for (const CIpFilter* f : copies) {
    EXPECT_EQ(f->mode, source.mode);
    EXPECT_EQ(f->allowCount, 1);
    EXPECT_EQ(f->denyCount, 0);
    for (int i = 0; i < CIpFilter::kMaxRules; ++i) {
      EXPECT_EQ(f->allowRules[i], source.allowRules[i]);
      EXPECT_EQ(f->denyRules[i], source.denyRules[i]);
    }
  }
}

}  // namespace
