// Who may connect to a slot and where it listens: the INI keys byte for byte and the decisions
// over real sockets on loopback (127.0.0.2 stands in for a foreign peer). The refusals of a
// switch-on are with the slot's others.
#include <filesystem>
#include <vector>

#include "SlotFixture.h"

using namespace slottest;

namespace {

const std::filesystem::path kData(RELVANE_TEST_DATA_DIR);

struct AccessSettingsTest : SlotFixture {
  std::string section(const std::string& accessKeys) const { return SlotFixture::section(1, "127.0.0.1", accessKeys); }
  std::uint64_t refused() { return slot.totals().refused; }
  // "served" once the pair is connected, "refused" once the relay has turned it away.
  std::string verdict(const char* source, const char* target) {
    const std::uint64_t refusedBefore = refused();
    int fd = connectLoopback(port, 2s, target, source);
    if (fd < 0) return "unreachable";
    waitUntil([&] { return slot.connectionCount > 0 || refused() > refusedBefore; });
    int server = slot.connectionCount > 0 ? destination.acceptOne(2s) : -1;
    const char* result = server >= 0 ? "served" : refused() > refusedBefore ? "refused" : "undecided";
    closeFd(fd), closeFd(server);
    waitUntil([&] { return slot.connectionCount == 0; });
    return result;
  }
};

TEST_F(AccessSettingsTest, AnOldFileLoadsAndSavesByteForByteAndEveryNewKeyRoundTrips) {
  const std::string old = readFile(kData / "access-old.ini");
  writeFile(ini, old);
  slot.loadSettings();
  EXPECT_EQ(std::tie(slot.filter.mode, slot.filter.allowCount, slot.filter.denyCount, slot.listenHost),
            std::make_tuple(CIpFilter::ModeAcceptAll, 0, 0, std::string()));
  slot.takeAccess(CIpFilter(slot.filter), std::string(slot.listenHost));  // OK, nothing changed
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), old) << "no access key is added while the user changed none";

  writeFile(ini, readFile(kData / "access-all-keys.ini"));
  slot.loadSettings();
  // A gap in the allow list hides no later rule.
  EXPECT_EQ(std::tie(slot.filter.mode, slot.filter.allowCount, slot.filter.allowRules[1], slot.filter.allowRules[4],
                     slot.filter.denyCount, slot.listenHost),
            std::make_tuple(CIpFilter::ModeRules, 5, "2001:db8::/32", "8.8.8.8", 1, "::"));
  slot.takeAccess(CIpFilter(slot.filter), std::string(slot.listenHost));
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), readFile(kData / "access-all-keys.ini"));

  CIpFilter edited = slot.filter;
  edited.mode = CIpFilter::ModePrivate;
  edited.allowRules[2] = "fd00::/8";
  edited.denyRules[edited.denyCount++] = "::1";
  slot.takeAccess(edited, "127.0.0.1");
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), readFile(kData / "access-all-keys.expected.ini"));
  CPortSlot again;
  again.iniPath = ini;
  again.loadSettings();
  EXPECT_EQ(std::tie(again.filter.denyRules[1], again.filter.mode), std::make_tuple("::1", CIpFilter::ModePrivate));

  for (const char* value : {"4", "-1", "3x", "", "03"}) {  // only a plain mode number counts
    writeFile(ini, "[TCP-PORT0]\nFILTER=" + std::string(value) + "\n");
    again.loadSettings();
    EXPECT_EQ(again.filter.mode, std::string(value) == "03" ? 3 : *value ? CIpFilter::ModeInvalid : 0) << value;
  }
}

// Outside rule mode a bad rule decides nothing, so it refuses nothing; an IPv4 peer of a
// dual-stack slot arrives as ::ffff:127.0.0.1 and is judged as its IPv4 address (how rules
// decide is the filter's own test).
TEST_F(AccessSettingsTest, ModesRulesAndListenAddressesDecideOverRealPeersAndCountTheRefused) {
  struct Try { const char *source, *target, *verdict; };
  const struct { const char* keys; bool v6; std::vector<Try> tries; } cases[] = {
      {"FILTER=1\nALLOW0=10.0.0.0/33\n", false,
       {{"127.0.0.2", "127.0.0.1", "refused"}, {"127.0.0.1", "127.0.0.1", "served"}}},
      {"LISTENHOST=127.0.0.1\n", false,
       {{"127.0.0.1", "127.0.0.1", "served"}, {"127.0.0.1", "127.0.0.2", "unreachable"}}},
      {"LISTENHOST=127.0.0.1\n", true, {{"::1", "::1", "unreachable"}}},
      {"LISTENHOST=::\nFILTER=1\n", true,
       {{"::1", "::1", "served"}, {"127.0.0.1", "127.0.0.1", "served"}, {"127.0.0.2", "127.0.0.1", "refused"}}},
      {"LISTENHOST=::1\nFILTER=3\nALLOW0=::1/128\n", true,
       {{"::1", "::1", "served"}, {"127.0.0.1", "127.0.0.1", "unreachable"}}}};
  const bool v6 = LoopbackListener("::1").fd >= 0;
  for (const auto& c : cases) {
    if (c.v6 && !v6) GTEST_SKIP() << "no IPv6 loopback on this machine";
    writeFile(ini, section(c.keys));
    ASSERT_EQ(slot.startSlot(), "") << c.keys;
    EXPECT_EQ(refused(), 0u) << "counted from the switch-on";
    std::uint64_t refusals = 0;
    for (const Try& t : c.tries) {
      EXPECT_EQ(verdict(t.source, t.target), t.verdict) << c.keys << t.source << " to " << t.target;
      refusals += std::string(t.verdict) == "refused";
    }
    EXPECT_EQ(refused(), refusals) << c.keys;
  }
}

}  // namespace
