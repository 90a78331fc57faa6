// A slot against real INI files in a temp directory and real sockets on 127.0.0.1, driving the
// relay's event loop in this thread.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "Loopback.h"
#include "TempDir.h"
#include "net/EventLoop.h"
#include "slot/PortSlot.h"
#include "slot/SaveReport.h"

using namespace testsupport;

namespace {

bool runUntil(const std::function<bool()>& done) {
  return net::EventLoop::current().runUntil(done, 5s);
}

// Sends on one socket and reads on the other while the relay runs.
std::string relay(int from, int to, const std::string& data) {
  int n = 0;
  if (!sendAll(from, data)) return "<send failed>";
  runUntil([&] { return ::ioctl(to, FIONREAD, &n) == 0 && n >= static_cast<int>(data.size()); });
  return recvExact(to, data.size(), 1s);
}

struct PortSlotTest : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  LoopbackListener destination;
  const int port = freePort();
  PortSlotTest() { socketInit(), slot.iniPath = ini; }
  std::string settings(int act, const std::string& host) {
    return "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
           "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(destination.port) +
           "\nBUFFERSIZE=64\n";
  }
};

TEST_F(PortSlotTest, EachSlotReadsItsOwnSectionAndLongHostsAreCut) {
  const std::string other = "[TCP-PORT1]\nACT=1\nPORT=70000\n\n[TCP-PORT0]\nFORWARDHOST=";
  writeFile(ini, other + std::string(300, 'h') + "\n");
  slot.loadSettings();
  EXPECT_EQ(std::tie(slot.act, slot.listenPort, slot.forwardHost),
            std::make_tuple(0, 0, std::string(260, 'h')));
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), other + std::string(300, 'h') + "\n") << "nothing changed, nothing written";
  slot.slotIndex = 1;
  slot.loadSettings();
  EXPECT_EQ(std::tie(slot.act, slot.listenPort), std::make_tuple(1, 70000));
  writeFile(ini, other + std::string(258, 'a') + "\xE4\xB8\xAD\n");
  slot.slotIndex = 0;
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(258, 'a')) << "no half character is left behind";
}

TEST_F(PortSlotTest, FirstLaunchWritesTheFourKeysAndARefusedSwitchOnSavesNothing) {
  EXPECT_EQ(slot.startSlot(), "");  // an empty directory
  EXPECT_EQ(slot.bufferSize, 128);
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=0\nFORWARDHOST=127.0.0.1\nFORWARDPORT=0\n");
  LoopbackListener taken;  // a listen port that another socket holds
  const std::string held = std::to_string(taken.port);
  struct { std::string file; std::string message; } cases[] = {
      {"[TCP-PORT0]\nACT=1\nPORT=0\nFORWARDPORT=0\n", "Listenポートが無効な設定です"},
      {"[TCP-PORT0]\nACT=1\nPORT=" + held + "\nFORWARDPORT=9\n", "Listenポート(" + held + ")を開けませんでした"},
      {"[TCP-PORT0]\nACT=1\nPORT=8080\n", "転送先ポート番号が無効な設定です"},
      {"[TCP-PORT0]\nACT=2\nPORT=8080\nFORWARDHOST=\n", "転送先ポート番号が無効な設定です"},
      {"[TCP-PORT0]\nACT=1\nPORT=abc\nFORWARDPORT=0080\n", "Listenポートが無効な設定です"},
  };
  for (auto& c : cases) {  // a refusal at launch is not the user switching off
    writeFile(ini, c.file);
    EXPECT_EQ(slot.startSlot(), c.message) << c.file;
    EXPECT_EQ(slot.act, 0);
    EXPECT_FALSE(slot.repeater.isListening());
    slot.shutdownSlot();
    EXPECT_EQ(readFile(ini), c.file);
  }
}

TEST_F(PortSlotTest, SwitchedOnItListensRelaysAndSwitchingOffClosesThePort) {
  writeFile(ini, settings(1, "127.0.0.1"));
  ASSERT_EQ(slot.startSlot(), "");
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
  closeFd(client);  // travels on as a half-close; the pair ends once both sides have closed
  EXPECT_TRUE(runUntil([&] { return waitPeerClosed(server, 10ms); }));
  closeFd(server);
  EXPECT_TRUE(runUntil([&] { return slot.connectionCount == 0; }));

  ASSERT_EQ(slot.toggleSlot(0), "");
  EXPECT_LT(connectLoopback(port, 1s), 0);
  EXPECT_EQ(readFile(ini), settings(0, "127.0.0.1"));
  slot.forwardHost = "";
  EXPECT_EQ(slot.toggleSlot(1), "") << "an empty host is refused silently";
  EXPECT_EQ(slot.act, 1);
  EXPECT_LT(connectLoopback(port, 1s), 0);
  EXPECT_EQ(readFile(ini), settings(1, "127.0.0.1")) << "only the switch was the user's";
}

TEST_F(PortSlotTest, ASaveWritesOnlyWhatTheUserChangedAndKeepsEveryOtherText) {
  const std::string sjisHost = "\x93\xfa\x96\x7b.example";  // from the other edition's file
  writeFile(ini, settings(1, sjisHost));
  ASSERT_EQ(slot.startSlot(), "");
  writeFile(ini, settings(1, sjisHost) + "; added by hand while running\n");
  slot.shutdownSlot();
  EXPECT_EQ(readFile(ini), settings(1, sjisHost) + "; added by hand while running\n");

  ASSERT_EQ(slot.startSlot(), "");
  ASSERT_EQ(slot.toggleSlot(0), "");  // the user's switch: ACT alone is written
  EXPECT_EQ(readFile(ini), settings(0, sjisHost) + "; added by hand while running\n");
}

TEST_F(PortSlotTest, BadValuesAreNamedAndABadDestinationPortRefusesTheSwitchOn) {
  const struct { std::string keys; std::vector<std::string> problems; std::string refusal; } cases[] = {
      {"ACT=1\nPORT=8080\nFORWARDPORT=70000\nBUFFERSIZE=0\n",
       {"TCP-PORT0 の FORWARDPORT=70000 は無効な値です (0～65535)",
        "TCP-PORT0 の BUFFERSIZE=0 は無効な値です (1～65536)"}, CPortSlot::kForwardPortInvalid},
      {"ACT=0\nPORT=-1\nFORWARDPORT=80x\nBUFFERSIZE=65537\n",
       {"TCP-PORT0 の PORT=-1 は無効な値です (0～65535)", "TCP-PORT0 の FORWARDPORT=80x は無効な値です (0～65535)",
        "TCP-PORT0 の BUFFERSIZE=65537 は無効な値です (1～65536)"}, ""},
      {"ACT=1\nPORT=8080\nFORWARDHOST=\nFORWARDPORT=80\nBUFFERSIZE=65536\n",
       {"TCP-PORT0 は ACT=1 ですが FORWARDHOST が空です"}, ""},
      {"ACT=0\nPORT=0080\nFORWARDPORT=0\nBUFFERSIZE=1\n", {}, ""},  // all of these are fine
  };
  for (const auto& c : cases) {
    writeFile(ini, "[TCP-PORT0]\n" + c.keys);
    EXPECT_EQ(slot.startSlot(), c.refusal) << c.keys;
    EXPECT_EQ(slot.problems, c.problems) << c.keys;
    EXPECT_FALSE(slot.started());
  }
}

TEST_F(PortSlotTest, AFailedSaveIsToldOncePerCauseAndTheChangeWaitsForTheNextSave) {
  std::vector<std::string> told;
  CSaveReport report([&](const std::string& text) { told.push_back(text); });
  slot.saveReport = &report;
  writeFile(ini, settings(0, "127.0.0.1"));
  ASSERT_EQ(slot.startSlot(), "");
  ::chmod(ini.c_str(), 0444);
  EXPECT_EQ(slot.toggleSlot(1), "");
  EXPECT_TRUE(slot.started()) << "the program goes on with the settings in memory";
  EXPECT_EQ(slot.toggleSlot(0), "");
  ASSERT_EQ(told.size(), 1u) << "the same cause twice is told once";
  EXPECT_EQ(told[0], CSaveReport::text(ini, EACCES));
  EXPECT_NE(told[0].find(ini), std::string::npos);
  EXPECT_NE(told[0].find(std::strerror(EACCES)), std::string::npos);
  EXPECT_EQ(readFile(ini), settings(0, "127.0.0.1"));
  EXPECT_TRUE(slot.hasUnsavedChanges());
  ::chmod(ini.c_str(), 0644);
  EXPECT_EQ(slot.toggleSlot(1), "");
  EXPECT_EQ(readFile(ini), settings(1, "127.0.0.1"));
  EXPECT_FALSE(slot.hasUnsavedChanges());
  slot.toggleSlot(0);
}

}  // namespace
