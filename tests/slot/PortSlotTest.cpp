// A slot against real INI files in a temp directory and real sockets on 127.0.0.1, driving the
// relay's event loop in this thread.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <filesystem>

#include "Loopback.h"
#include "TempDir.h"
#include "net/EventLoop.h"
#include "slot/PortSlot.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

bool runUntil(const std::function<bool()>& done) {
  return net::EventLoop::current().runUntil(done, 5s);
}

// Sends on one socket and reads on the other while the relay runs.
std::string relay(int from, int to, const std::string& data) {
  if (!sendAll(from, data)) return "<send failed>";
  runUntil([&] {
    int n = 0;
    return ::ioctl(to, FIONREAD, &n) == 0 && n >= static_cast<int>(data.size());
  });
  return recvExact(to, data.size(), 1s);
}

struct PortSlotTest : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  LoopbackListener destination;
  const int port = freePort();
  PortSlotTest() {
    socketInit();
    slot.iniPath = ini;
  }
  std::string settings(int act, const std::string& host) {
    return "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
           "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(destination.port) +
           "\nBUFFERSIZE=64\n";
  }
  bool portOpen() {
    int fd = connectLoopback(port, 1s);
    bool open = fd >= 0;
    closeFd(fd);
    return open;
  }
};

TEST_F(PortSlotTest, FirstLaunchInEmptyDirectoryWritesExactlyTheFourKeys) {
  EXPECT_EQ(slot.startSlot(), "");
  EXPECT_EQ(std::tie(slot.act, slot.listenPort, slot.forwardHost, slot.forwardPort, slot.bufferSize),
            std::make_tuple(0, 0, std::string("127.0.0.1"), 0, 128));
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=0\nFORWARDHOST=127.0.0.1\nFORWARDPORT=0\n");
}

TEST_F(PortSlotTest, HandEditedFileKeepsEveryOtherLineAndBufferSize) {
  fs::copy_file(fs::path(RELVANE_TEST_DATA_DIR) / "slot-hand-edited.ini", ini);
  slot.loadSettings();
  EXPECT_EQ(std::tie(slot.act, slot.listenPort, slot.forwardHost, slot.forwardPort, slot.bufferSize),
            std::make_tuple(1, 70000, std::string("db.internal"), 5432, 64));
  slot.act = 0;
  slot.forwardHost = "backup.internal";
  slot.forwardPort = 5433;
  ASSERT_TRUE(slot.saveSettings());
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), readFile(fs::path(RELVANE_TEST_DATA_DIR) / "slot-hand-edited.expected.ini"));

  CPortSlot other;
  other.iniPath = ini;
  other.slotIndex = 1;
  other.loadSettings();
  EXPECT_EQ(std::tie(other.act, other.listenPort, other.forwardHost, other.forwardPort),
            std::make_tuple(1, 1, std::string("127.0.0.1"), 0)) << "each slot reads its own section";
}

TEST_F(PortSlotTest, LongHostIsCutOnLoadAndWrittenBackCut) {
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=" + std::string(300, 'h') + "\n");
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(260, 'h'));
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nFORWARDHOST=" + std::string(260, 'h') +
                               "\nACT=0\nPORT=0\nFORWARDPORT=0\n");
  // A cut never leaves part of a multi-byte character behind; a whole one at the end stays.
  const std::string kanji = "\xE4\xB8\xAD";
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=" + std::string(258, 'a') + kanji + "\n");
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(258, 'a'));
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=" + std::string(257, 'a') + kanji + "zz\n");
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(257, 'a') + kanji);
}

TEST_F(PortSlotTest, SavesThatCannotBeMadeKeepTheFileAndTheSettings) {
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=old\n");
  slot.listenPort = 5;
  slot.forwardHost = "evil\n[TCP-PORT0]\nPORT=1";  // would forge a line
  testing::internal::CaptureStdout();
  EXPECT_FALSE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nFORWARDHOST=old\nACT=0\nPORT=5\nFORWARDPORT=0\n");
  const std::string before = readFile(ini);
  fs::create_directory(ini + ".tmp");
  slot.forwardHost = "h";
  EXPECT_FALSE(slot.saveSettings());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Error:"), std::string::npos);
  EXPECT_EQ(readFile(ini), before);
  EXPECT_EQ(slot.forwardHost, "h");
}

TEST_F(PortSlotTest, RefusedSwitchOnShowsTheFirstFailingRuleAndSavesNothing) {
  struct { std::string file; const char* message; } cases[] = {
      {"[TCP-PORT0]\nACT=1\nPORT=0\nFORWARDPORT=0\n", "Listenポートが無効な設定です"},
      {"[TCP-PORT0]\nACT=1\nPORT=0\nFORWARDPORT=80\n", "Listenポートが無効な設定です"},
      {"[TCP-PORT0]\nACT=1\nPORT=8080\n", "転送先ポート番号が無効な設定です"},
      {"[TCP-PORT0]\nACT=2\nPORT=8080\nFORWARDHOST=\n", "転送先ポート番号が無効な設定です"},
  };
  for (auto& c : cases) {
    writeFile(ini, c.file);
    EXPECT_EQ(slot.startSlot(), c.message) << c.file;
    EXPECT_EQ(slot.act, 0);
    EXPECT_FALSE(slot.repeater.isListening());
    EXPECT_EQ(readFile(ini), c.file);
  }
}

TEST_F(PortSlotTest, LaunchSwitchedOnListensRelaysCountsAndShutsDown) {
  writeFile(ini, settings(1, "127.0.0.1"));
  ASSERT_EQ(slot.startSlot(), "");
  ASSERT_TRUE(slot.repeater.isListening());
  EXPECT_EQ(readFile(ini), settings(1, "127.0.0.1")) << "BUFFERSIZE survives the launch save";

  int client = connectLoopback(port);
  ASSERT_TRUE(runUntil([&] { return slot.connectionCount == 1; }));
  int server = destination.acceptOne(2s);
  ASSERT_GE(server, 0);
  EXPECT_EQ(relay(client, server, "hello through the slot"), "hello through the slot");
  EXPECT_EQ(relay(server, client, "and back"), "and back");
  int position = 0;
  CTcpStreamPair* pair = slot.repeater.getNextPair(position);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->acceptStream->sendBufferSize, 64u * 1024u);
  // A close travels on as a half-close; the pair ends once both sides have closed.
  closeFd(client);
  EXPECT_TRUE(runUntil([&] { return waitPeerClosed(server, 10ms); }));
  closeFd(server);
  EXPECT_TRUE(runUntil([&] { return slot.connectionCount == 0; }));

  slot.forwardHost = "localhost";
  slot.shutdownSlot();
  EXPECT_FALSE(portOpen());
  EXPECT_EQ(readFile(ini), settings(1, "localhost")) << "on at exit means on at the next launch";
}

TEST_F(PortSlotTest, SwitchingOffClosesThePortAndEmptyHostListensNowhere) {
  writeFile(ini, settings(0, "127.0.0.1"));
  slot.loadSettings();
  ASSERT_EQ(slot.toggleSlot(1), "");
  EXPECT_TRUE(portOpen());
  ASSERT_EQ(slot.toggleSlot(0), "");
  EXPECT_FALSE(slot.repeater.isListening());
  EXPECT_FALSE(portOpen());
  EXPECT_EQ(readFile(ini), settings(0, "127.0.0.1"));

  slot.forwardHost = "";
  EXPECT_EQ(slot.toggleSlot(1), "") << "an empty host is refused silently";
  EXPECT_EQ(slot.act, 1);
  EXPECT_FALSE(portOpen());
  EXPECT_EQ(readFile(ini), settings(1, ""));
}

TEST_F(PortSlotTest, LiveFilterDecidesWhoIsServed) {
  writeFile(ini, settings(1, "127.0.0.1"));
  slot.filter.mode = CIpFilter::ModeRules;  // no allow rule: nobody is served
  ASSERT_EQ(slot.startSlot(), "");
  int client = connectLoopback(port);
  EXPECT_TRUE(runUntil([&] { return waitPeerClosed(client, 10ms); }));
  EXPECT_EQ(slot.connectionCount, 0);
  EXPECT_LT(destination.acceptOne(100ms), 0) << "a refused peer gets no partner";
  closeFd(client);
}

}  // namespace
