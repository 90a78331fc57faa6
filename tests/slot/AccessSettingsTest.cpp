// Who may connect to a slot and where it listens: the INI keys byte for byte, the refusals of a
// switch-on, and the decisions over real sockets on loopback (127.0.0.2 stands in for a foreign
// peer) with the relay's event loop driven in this thread.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "Loopback.h"
#include "TempDir.h"
#include "net/EventLoop.h"
#include "slot/PortSlot.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const fs::path kData(RELVANE_TEST_DATA_DIR);

bool runUntil(const std::function<bool()>& done) { return net::EventLoop::current().runUntil(done, 5s); }

// A blocking connect from `source` (port of the kernel's choosing) to `target`:port; -1 when it
// fails. Both addresses are of one family.
int connectFrom(const char* source, const char* target, int port) {
  const bool v6 = std::string(target).find(':') != std::string::npos;
  sockaddr_storage from{}, to{};
  socklen_t length = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  for (auto [storage, text, p] : {std::tuple{&from, source, 0}, std::tuple{&to, target, port}}) {
    if (v6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(storage);
      a->sin6_family = AF_INET6, a->sin6_port = htons(p), ::inet_pton(AF_INET6, text, &a->sin6_addr);
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(storage);
      a->sin_family = AF_INET, a->sin_port = htons(p), ::inet_pton(AF_INET, text, &a->sin_addr);
    }
  }
  int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), length) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

bool hasIPv6Loopback() {
  const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6, a.sin6_addr = in6addr_loopback;
  const bool ok = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (probe >= 0) ::close(probe);
  return ok;
}

struct AccessSettingsTest : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  LoopbackListener destination;
  const int port = freePort();
  AccessSettingsTest() { socketInit(), slot.iniPath = ini; }

  std::string section(const std::string& accessKeys, int act = 1) {
    return "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
           "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(destination.port) + "\n" + accessKeys;
  }
  std::uint64_t refused() { return slot.totals().refused; }
  // "served" once the pair is connected; "refused" once the relay has closed it unserved.
  std::string verdict(const char* source, const char* target) {
    const int before = slot.connectionCount;
    const std::uint64_t refusedBefore = refused();
    int fd = connectFrom(source, target, port);
    if (fd < 0) return "unreachable";
    runUntil([&] { return slot.connectionCount > before || refused() > refusedBefore; });
    std::string result = slot.connectionCount > before ? "served"
                         : refused() > refusedBefore && waitPeerClosed(fd, 2s) ? "refused"
                                                                                                  : "undecided";
    int server = result == "served" ? destination.acceptOne(2s) : -1;
    closeFd(fd);
    closeFd(server);
    runUntil([&] { return slot.connectionCount == before; });
    return result;
  }
};

TEST_F(AccessSettingsTest, AnOldFileLoadsAndSavesByteForByteAndEveryNewKeyRoundTrips) {
  const std::string old = readFile(kData / "access-old.ini");
  writeFile(ini, old);
  slot.loadSettings();
  EXPECT_EQ(slot.filter.mode, CIpFilter::ModeAcceptAll);
  EXPECT_EQ(slot.filter.allowCount + slot.filter.denyCount, 0);
  EXPECT_EQ(slot.listenHost, "");
  slot.takeAccess(CIpFilter(slot.filter), std::string(slot.listenHost));  // OK, nothing changed
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), old) << "no access key is added while the user changed none";

  writeFile(ini, readFile(kData / "access-all-keys.ini"));
  slot.loadSettings();
  EXPECT_EQ(slot.filter.mode, CIpFilter::ModeRules);
  EXPECT_EQ(slot.filter.allowCount, 3) << "the list ends at its first empty entry";
  EXPECT_EQ(slot.filter.allowRules[1], "2001:db8::/32");
  EXPECT_EQ(slot.filter.allowRules[4], "8.8.8.8");
  EXPECT_EQ(slot.filter.denyCount, 1);
  EXPECT_EQ(slot.listenHost, "::");
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
  EXPECT_EQ(again.filter.denyRules[1], "::1");
  EXPECT_EQ(again.filter.mode, CIpFilter::ModePrivate);

  for (const char* value : {"4", "-1", "3x", "", "03"}) {  // only a plain mode number counts
    writeFile(ini, "[TCP-PORT0]\nFILTER=" + std::string(value) + "\n");
    again.loadSettings();
    EXPECT_EQ(again.filter.mode, std::string(value) == "03" ? 3 : 0) << value;
  }
}

TEST_F(AccessSettingsTest, ABadRuleInRuleModeOrAForeignListenAddressRefusesTheSwitchOnAndTouchesNothing) {
  const std::pair<std::string, std::string> cases[] = {
      {"FILTER=3\nALLOW0=127.0.0.1\nALLOW1=10.0.0.0/33\n", "許可ルール「10.0.0.0/33」を解釈できません。OFFのまま設定を見直して下さい"},
      {"FILTER=3\nALLOW0=0.0.0.0/0\nDENY0=localhost\n", "拒否ルール「localhost」を解釈できません。OFFのまま設定を見直して下さい"},
      {"LISTENHOST=192.0.2.1\n", "待ち受けアドレス「192.0.2.1」はこのPCのアドレスではありません"},
      {"LISTENHOST=db.example\n", "待ち受けアドレス「db.example」はこのPCのアドレスではありません"}};
  for (const auto& [keys, message] : cases) {
    writeFile(ini, section(keys));
    EXPECT_EQ(slot.startSlot(), message);
    EXPECT_EQ(slot.act, 0);
    EXPECT_FALSE(slot.repeater.isListening());
    EXPECT_EQ(readFile(ini), section(keys));
  }
  // Outside rule mode a bad rule decides nothing, so it refuses nothing.
  writeFile(ini, section("FILTER=1\nALLOW0=10.0.0.0/33\n"));
  EXPECT_EQ(slot.startSlot(), "");
  EXPECT_TRUE(slot.repeater.isListening());
}

TEST_F(AccessSettingsTest, ThisHostOnlyAndRulesDecideOverRealPeersAndCountTheRefused) {
  writeFile(ini, section("FILTER=1\n"));
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(verdict("127.0.0.2", "127.0.0.1"), "refused");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.1"), "served");
  EXPECT_EQ(refused(), 1u);

  // A deny rule beats an allow rule that also covers the peer.
  writeFile(ini, section("FILTER=3\nALLOW0=127.0.0.0/8\nDENY0=127.0.0.2\n"));
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(refused(), 0u) << "counted from the switch-on";
  EXPECT_EQ(verdict("127.0.0.2", "127.0.0.1"), "refused");
  EXPECT_EQ(verdict("127.0.0.3", "127.0.0.1"), "served");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.1"), "served");
  EXPECT_EQ(refused(), 1u);
}

TEST_F(AccessSettingsTest, AListenAddressKeepsTheSlotToItAndDualStackServesBothFamilies) {
  writeFile(ini, section("LISTENHOST=127.0.0.1\n"));
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.1"), "served");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.2"), "unreachable");
  if (!hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback on this machine";
  EXPECT_EQ(verdict("::1", "::1"), "unreachable");

  writeFile(ini, section("LISTENHOST=::\nFILTER=1\n"));
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(verdict("::1", "::1"), "served");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.1"), "served") << "an IPv4 peer arrives as ::ffff:127.0.0.1";
  EXPECT_EQ(verdict("127.0.0.2", "127.0.0.1"), "refused");
  int position = 0;
  EXPECT_EQ(slot.repeater.getNextPair(position), nullptr);

  // An IPv6 rule: only ::1 may come, over an IPv6-only listen address.
  writeFile(ini, section("LISTENHOST=::1\nFILTER=3\nALLOW0=::1/128\n"));
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(verdict("::1", "::1"), "served");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.1"), "unreachable");
  writeFile(ini, section("LISTENHOST=::\nFILTER=3\nALLOW0=::/0\nDENY0=::ffff:127.0.0.0/104\n"));
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(verdict("::1", "::1"), "served");
  EXPECT_EQ(verdict("127.0.0.1", "127.0.0.1"), "refused") << "an IPv4 deny written as IPv6";
}

}  // namespace
