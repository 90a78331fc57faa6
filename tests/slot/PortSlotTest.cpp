// A slot, its access settings and the set of a file's slots, against real INI files in a temp
// directory and real sockets on loopback (127.0.0.2 stands in for a foreign peer), driving the
// relay's event loop in this thread.
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <regex>

#include "SlotFixture.h"
#include "slot/SaveReport.h"
#include "slot/SlotSet.h"

using namespace slottest;

namespace {

using PortSlotTest = SlotFixture;

// Sends on one socket and reads on the other while the relay runs.
std::string relay(int from, int to, const std::string& data) {
  int n = 0;
  if (!sendAll(from, data)) return "<send failed>";
  waitUntil([&] { return ::ioctl(to, FIONREAD, &n) == 0 && n >= static_cast<int>(data.size()); });
  return recvExact(to, data.size(), 1s);
}

// How the relay names a client of this test.
std::string peer(int fd) { return "127.0.0.1:" + std::to_string(portOf(fd)); }

// The time bounds have no control: they are read when present and never written.
TEST_F(PortSlotTest, EachSlotReadsItsOwnSectionCutsLongHostsAndWritesNothingUnchanged) {
  const std::string other =
      "[TCP-PORT1]\nACT=1\nPORT=70000\nCONNECTTIMEOUT=5\nHALFCLOSETIMEOUT=0\n\n[TCP-PORT0]\nFORWARDHOST=";
  writeFile(ini, other + std::string(300, 'h') + "\n");
  slot.loadSettings();
  EXPECT_EQ(std::tie(slot.act, slot.listenPort, slot.forwardHost, slot.connectTimeout, slot.halfCloseTimeout,
                     slot.bufferSize),
            std::make_tuple(0, 0, std::string(260, 'h'), 30, 600, 128));
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), other + std::string(300, 'h') + "\n") << "a cut host is not written back";
  slot.slotIndex = 1;
  slot.loadSettings();
  EXPECT_EQ(std::tie(slot.act, slot.listenPort, slot.connectTimeout, slot.halfCloseTimeout),
            std::make_tuple(1, 0, 5, 0));
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), other + std::string(300, 'h') + "\n") << "nothing changed, nothing written";
  writeFile(ini, other + std::string(258, 'a') + "\xE4\xB8\xAD\n");
  slot.slotIndex = 0;
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(258, 'a')) << "no half character is left behind";
}

// Each relayed connection gives a line when it opens and exactly one when it ends, with its bytes
// each way; after a switch-off and on the totals start again from nothing.
TEST_F(PortSlotTest, EveryConnectionOpensAndEndsInOneLogLineEachAndFailedOrFilteredOnesAreCountedAfresh) {
  LogCapture log;
  writeFile(ini, section(1, "BUFFERSIZE=64\n"));
  ASSERT_EQ(slot.startSlot(), "");
  const std::string dest = "127.0.0.1:" + std::to_string(destination.port);
  const char* endings[] = {"クライアントが切断", "転送先が切断", "クライアントがリセット", "停止"};
  for (int ending = 0; ending < 4; ++ending) {
    SCOPED_TRACE(ending);
    int client = connectLoopback(port);
    ASSERT_TRUE(waitUntil([&] { return slot.connectionCount == 1; }));
    int server = destination.acceptOne(2s);  // none: the relay below fails
    const std::string up(1000 + ending, 'u'), down(70000, 'd');
    ASSERT_EQ(relay(client, server, up), up);
    ASSERT_EQ(relay(server, client, down), down);
    int position = 0;
    const CTcpStreamPair* pair = slot.nextPair(position);
    EXPECT_EQ(pair ? pair->acceptStream->sendBufferSize : 0u, 64u * 1024u) << "BUFFERSIZE";
    const std::string from = peer(client);
    if (ending < 2) {  // a half-close travels on; the pair ends once both sides have closed
      ::shutdown(ending == 0 ? client : server, SHUT_WR);
      EXPECT_TRUE(waitUntil([&] { return waitPeerClosed(ending == 0 ? server : client, 10ms); }));
      closeFd(ending == 0 ? server : client);
    } else if (ending == 2) {
      resetClose(client);
    } else {
      ASSERT_EQ(slot.toggleSlot(0), "");
    }
    EXPECT_TRUE(waitUntil([&] { return !slot.nextPair(position = 0); }));
    const auto lines = log.lines(from);
    const std::regex line("TCP-PORT0 接続終了 接続元=" + from + " 転送先=" + dest + " 受信=" +
                          std::to_string(up.size()) + " 送信=70000 時間=\\d+\\.\\d{3}s 終了=" + endings[ending]);
    EXPECT_TRUE(lines.size() == 2 && lines[0] == "TCP-PORT0 接続開始 接続元=" + from + " 転送先=" + dest &&
                std::regex_match(lines[1], line))
        << testing::PrintToString(lines);
    closeFd(client), closeFd(server);
  }
  const SlotTotals totals = slot.totals();
  EXPECT_EQ(std::tie(totals.served, totals.refused, totals.failed, totals.fromClient, totals.toClient),
            std::make_tuple(4u, 0u, 0u, 4006u, 280000u));
  EXPECT_EQ(log.lines("TCP-PORT0 待ち受け開始 待受=0.0.0.0:" + std::to_string(port) + " 転送先=" + dest).size(), 1u);
  EXPECT_EQ(log.lines(), log.lines("TCP-PORT0 ")) << "every line names its slot";
  EXPECT_EQ(log.lines().back(), "TCP-PORT0 停止");

  const int nobody = freePort();  // connects to it are refused; the totals restart
  slot.forwardPort = nobody;
  ASSERT_EQ(slot.toggleSlot(1), "");
  int refused = connectLoopback(port);
  EXPECT_TRUE(waitUntil([&] { return waitPeerClosed(refused, 10ms); }));
  const auto failed = log.lines(peer(refused));
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      failed[0],
      std::regex("TCP-PORT0 接続終了 接続元=" + peer(refused) + " 転送先=127.0.0.1:" + std::to_string(nobody) +
                 " 受信=0 送信=0 時間=\\d+\\.\\d{3}s 終了=接続失敗 理由=\"" + std::strerror(ECONNREFUSED) + "\"")))
      << failed[0];
  slot.filter.mode = CIpFilter::ModeRules;
  slot.filter.allowCount = 1;
  slot.filter.allowRules[0] = "10.0.0.0/8";
  int filtered = connectLoopback(port);
  EXPECT_TRUE(waitUntil([&] { return waitPeerClosed(filtered, 10ms); }));
  EXPECT_EQ(log.lines("フィルタ拒否"), std::vector<std::string>{"TCP-PORT0 フィルタ拒否 接続元=" + peer(filtered)});
  const SlotTotals after = slot.totals();
  EXPECT_EQ(std::tie(after.served, after.refused, after.failed), std::make_tuple(0u, 1u, 1u));
  closeFd(refused), closeFd(filtered);
}

// The slots of one settings file through their one owner (the window and the headless program
// stand on the same set; their own tests run it there).
TEST_F(PortSlotTest, ThreeSlotsStartAddOneRemoveTheMiddleOneAndShutDown) {
  std::vector<std::string> told;
  CSaveReport report([&](const std::string& text) { told.push_back(text); });
  CSlotSet set(ini, &report);
  const int other = freePort();
  const std::string head = "; by hand\n" + section(1) + "\n[OTHER]\nKEEP=me\n";
  const std::string middle = "[TCP-PORT1]\nACT=1\nPORT=0082\nFORWARDHOST=\x93\xfa\n";
  const std::string tail = slotSection(2, 1, other, destination.port, "localhost", "BUFFERSIZE=64\n");
  writeFile(ini, head + middle + tail);
  set.open();
  ASSERT_EQ(set.size(), 3);
  set.startAll(
      [](CPortSlot&, const std::string&) { return true; });  // in order, refusals told: the runs' and the window's
  EXPECT_TRUE(set[0].started() && !set[1].started() && set[2].started());
  EXPECT_EQ(set.addSlot(), std::optional<std::string>(""));
  EXPECT_EQ(readFile(ini), head + middle + tail + slotSection(3, 0, 0, 0)) << "a refusal at launch keeps ACT=1";

  ::chmod(ini.c_str(), 0444);  // the file cannot lose the slot: neither does the set
  EXPECT_EQ(set.removeSlot(1), nullptr);
  EXPECT_EQ(told, std::vector<std::string>{CSaveReport::text(ini, EACCES)});
  ::chmod(ini.c_str(), 0644);
  const std::unique_ptr<CPortSlot> removed = set.removeSlot(1);
  EXPECT_EQ(removed ? removed->listenPort : -1, 82);
  ASSERT_EQ(set.size(), 3);
  EXPECT_EQ(std::make_tuple(set[1].slotIndex, set[1].listenPort, set[2].slotIndex), std::make_tuple(1, other, 2));
  const std::string renumbered = head + "[TCP-PORT1]" + tail.substr(tail.find('\n')) + slotSection(2, 0, 0, 0);
  EXPECT_EQ(readFile(ini), renumbered);
  int client = connectLoopback(other, 1s);
  EXPECT_GE(client, 0) << "the renumbered slot runs on";
  closeFd(client);

  set.shutdown();  // in slot order, writing nothing unchanged: the headless run's log and file
  EXPECT_FALSE(set[0].started() || set[1].started());
}

TEST_F(PortSlotTest, AnOldFileLoadsAndSavesByteForByteAndEveryNewKeyRoundTrips) {
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
TEST_F(PortSlotTest, ModesRulesAndListenAddressesDecideOverRealPeersAndCountTheRefused) {
  using Try = std::array<const char*, 3>;  // source, target, verdict
  const std::pair<const char*, std::vector<Try>> cases[] = {
      // the IPv6 cases last: skipped without ::1
      {"FILTER=1\nALLOW0=10.0.0.0/33\n", {{"127.0.0.2", "127.0.0.1", "refused"}, {"127.0.0.1", "127.0.0.1", "served"}}},
      {"LISTENHOST=127.0.0.1\n", {{"127.0.0.1", "127.0.0.1", "served"}, {"127.0.0.1", "127.0.0.2", "unreachable"}}},
      {"FILTER=03\nALLOW1=127.0.0.0/8\nDENY1=127.0.0.2\n",  // rules after a gap count
       {{"127.0.0.3", "127.0.0.1", "served"}, {"127.0.0.2", "127.0.0.1", "refused"}}},
      {"LISTENHOST=127.0.0.1\n", {{"::1", "::1", "unreachable"}}},
      {"LISTENHOST=::\nFILTER=1\n",
       {{"::1", "::1", "served"}, {"127.0.0.1", "127.0.0.1", "served"}, {"127.0.0.2", "127.0.0.1", "refused"}}},
      {"LISTENHOST=::1\nFILTER=3\nALLOW0=::1/128\n",
       {{"::1", "::1", "served"}, {"127.0.0.1", "127.0.0.1", "unreachable"}}}};
  auto refused = [&] { return slot.totals().refused; };
  // "served" once the pair is connected, "refused" once the relay has turned it away.
  auto verdict = [&](const char* source, const char* target) -> std::string {
    const std::uint64_t before = refused();
    int fd = connectLoopback(port, 2s, target, source);
    if (fd < 0) return "unreachable";
    waitUntil([&] { return slot.connectionCount > 0 || refused() > before; });
    int server = slot.connectionCount > 0 ? destination.acceptOne(2s) : -1;
    const char* result = server >= 0 ? "served" : refused() > before ? "refused" : "undecided";
    closeFd(fd), closeFd(server);
    waitUntil([&] { return slot.connectionCount == 0; });
    return result;
  };
  const bool v6 = LoopbackListener("::1").fd >= 0;
  for (const auto& [keys, tries] : cases) {
    if (!v6 && tries[0][0][0] == ':') GTEST_SKIP() << "no IPv6 loopback on this machine";
    writeFile(ini, section(1, keys));
    ASSERT_EQ(slot.startSlot(), "") << keys;
    EXPECT_EQ(refused(), 0u) << "counted from the switch-on";
    std::uint64_t refusals = 0;
    for (const auto& [source, target, expected] : tries) {
      EXPECT_EQ(verdict(source, target), expected) << keys << source << " to " << target;
      refusals += std::string(expected) == "refused";
    }
    EXPECT_EQ(refused(), refusals) << keys;
  }
}

}  // namespace
