// Switching a slot on and off with real sockets on 127.0.0.1, driving the relay's event loop.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <string>

#include "Loopback.h"
#include "TempDir.h"
#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "slot/PortSlot.h"

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool runUntil(const std::function<bool()>& done) {
  return net::EventLoop::current().runUntil(done, 5s);
}

int bytesWaiting(int fd) {
  int n = 0;
  return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Sends on one socket and reads on the other while the relay runs in this thread.
std::string relay(int from, int to, const std::string& data) {
  if (!testsupport::sendAll(from, data)) return "<send failed>";
  runUntil([&] { return bytesWaiting(to) >= static_cast<int>(data.size()); });
  return testsupport::recvExact(to, data.size(), 1s);
}

struct SwitchTest : testing::Test {
  TempDir dir;
  CPortSlot slot;
  std::string ini;
  testsupport::LoopbackListener destination;
  SwitchTest() : ini((dir / "RelvaneTiv.ini").string()) {
    socketInit();
    slot.iniPath = ini;
  }
  void writeSettings(int act, int port, const std::string& host, int forwardPort) {
    writeFile(ini, "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
                       "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(forwardPort) +
                       "\nBUFFERSIZE=64\n");
  }
};

TEST_F(SwitchTest, ValidationChecksListenPortFirstThenDestinationPort) {
  EXPECT_EQ(slot.switchOnRefusal(), "Listenポートが無効な設定です");
  slot.forwardPort = 80;
  EXPECT_EQ(slot.switchOnRefusal(), "Listenポートが無効な設定です");
  slot.forwardPort = 0;
  slot.listenPort = 8080;
  EXPECT_EQ(slot.switchOnRefusal(), "転送先ポート番号が無効な設定です");
  slot.forwardPort = 80;
  EXPECT_EQ(slot.switchOnRefusal(), "");
  slot.forwardHost = "";
  EXPECT_EQ(slot.switchOnRefusal(), "") << "an empty host is refused silently, not here";
}

TEST_F(SwitchTest, RefusedSwitchOnLeavesFileAndStaysOff) {
  struct Case { std::string file; const char* message; } cases[] = {
      {"[TCP-PORT0]\nACT=1\nPORT=0\nFORWARDPORT=80\n", CPortSlot::kListenPortInvalid},
      {"[TCP-PORT0]\nACT=1\nPORT=8080\n", CPortSlot::kForwardPortInvalid},
      {"[TCP-PORT0]\nACT=2\nPORT=8080\nFORWARDPORT=0\n", CPortSlot::kForwardPortInvalid},
  };
  for (const Case& c : cases) {
    writeFile(ini, c.file);
    EXPECT_EQ(slot.startSlot(), c.message) << c.file;
    EXPECT_EQ(slot.act, 0);
    EXPECT_FALSE(slot.repeater.isListening());
    EXPECT_EQ(readFile(ini), c.file) << "a refusal saves nothing";
  }
}

TEST_F(SwitchTest, LaunchWithActOnListensRelaysAndCountsConnections) {
  const int port = testsupport::freePort();
  writeSettings(1, port, "127.0.0.1", destination.port);
  const std::string before = readFile(ini);
  ASSERT_EQ(slot.startSlot(), "");
  EXPECT_EQ(slot.act, 1);
  ASSERT_TRUE(slot.repeater.isListening());
  EXPECT_EQ(readFile(ini), before) << "the launch save rewrites the same values, BUFFERSIZE kept";

  int client = testsupport::connectLoopback(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(runUntil([&] { return slot.connectionCount == 1; }));
  int server = destination.acceptOne(2s);
  ASSERT_GE(server, 0);
  EXPECT_EQ(relay(client, server, "hello through the slot"), "hello through the slot");
  EXPECT_EQ(relay(server, client, "and back"), "and back");

  int position = 0;
  CTcpStreamPair* pair = slot.repeater.getNextPair(position);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->acceptStream->sendBufferSize, 64u * 1024u) << "BUFFERSIZE reaches the streams";

  testsupport::closeFd(client);
  EXPECT_TRUE(runUntil([&] { return slot.connectionCount == 0; }));
  EXPECT_TRUE(testsupport::waitPeerClosed(server, 2s));
  testsupport::closeFd(server);
}

TEST_F(SwitchTest, SwitchingOffClosesThePortAndSaves) {
  const int port = testsupport::freePort();
  slot.listenPort = port;
  slot.forwardHost = "127.0.0.1";
  slot.forwardPort = destination.port;
  ASSERT_EQ(slot.toggleSlot(1), "");
  ASSERT_TRUE(slot.repeater.isListening());
  EXPECT_NE(readFile(ini).find("ACT=1\n"), std::string::npos);

  ASSERT_EQ(slot.toggleSlot(0), "");
  EXPECT_EQ(slot.act, 0);
  EXPECT_FALSE(slot.repeater.isListening());
  int client = testsupport::connectLoopback(port, 1s);
  EXPECT_LT(client, 0) << "nothing listens any more";
  testsupport::closeFd(client);
  EXPECT_NE(readFile(ini).find("ACT=0\n"), std::string::npos);
}

TEST_F(SwitchTest, EmptyHostSavesOnButListensNowhere) {
  const int port = testsupport::freePort();
  writeSettings(0, port, "", destination.port);
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, "");
  EXPECT_EQ(slot.toggleSlot(1), "");
  EXPECT_EQ(slot.act, 1);
  EXPECT_FALSE(slot.repeater.isListening());
  EXPECT_NE(readFile(ini).find("ACT=1\n"), std::string::npos);
  int client = testsupport::connectLoopback(port, 1s);
  EXPECT_LT(client, 0);
  testsupport::closeFd(client);
}

TEST_F(SwitchTest, ShutdownSavesOnStateThenStops) {
  const int port = testsupport::freePort();
  writeSettings(1, port, "127.0.0.1", destination.port);
  ASSERT_EQ(slot.startSlot(), "");
  slot.forwardHost = "localhost";  // changed while running: the exit save keeps it
  slot.shutdownSlot();
  EXPECT_FALSE(slot.repeater.isListening());
  CPortSlot next;
  next.iniPath = ini;
  next.loadSettings();
  EXPECT_EQ(next.act, 1) << "a slot on at exit comes back on at the next launch";
  EXPECT_EQ(next.listenPort, port);
  EXPECT_EQ(next.forwardHost, "localhost");
}

TEST_F(SwitchTest, LiveFilterDecidesWhoIsServed) {
  const int port = testsupport::freePort();
  slot.listenPort = port;
  slot.forwardHost = "127.0.0.1";
  slot.forwardPort = destination.port;
  slot.filter.mode = CIpFilter::ModeRules;  // no allow rule: nobody is served
  ASSERT_EQ(slot.toggleSlot(1), "");
  int client = testsupport::connectLoopback(port);
  ASSERT_GE(client, 0);
  bool refused = runUntil([&] { return testsupport::waitPeerClosed(client, 10ms); });
  EXPECT_TRUE(refused);
  EXPECT_EQ(slot.connectionCount, 0);
  EXPECT_LT(destination.acceptOne(100ms), 0) << "a refused peer gets no partner";
  testsupport::closeFd(client);
}

}  // namespace
