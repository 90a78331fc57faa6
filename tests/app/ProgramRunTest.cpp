// The built program run as a user runs it -- headless, or with its window on the offscreen
// platform -- from a directory of its own with the INI file beside it, ended by signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>

#include "ChildProcess.h"

namespace fs = std::filesystem;
using namespace apptest;
using namespace testsupport;

namespace {

const std::string windowShown = "CRelvaneDlg::showMainWindow(1)\n";

class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& dir : {bin, runtime, elsewhere}) fs::create_directories(dir);
    fs::permissions(runtime, fs::perms::owner_all);  // as a session's runtime directory is
    fs::create_symlink(fs::path(RELVANE_BINARY_DIR) / "app" / "RelvaneTiv", program);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }

  // Started from another directory with the link's full path as argument 0.
  std::unique_ptr<ChildProcess> start(std::vector<std::string> args, bool closedStreams = false) {
    args.insert(args.begin(), program.string());
    const fs::path output = temp / ("out" + std::to_string(++started));
    fs::create_directories(output);
    return std::make_unique<ChildProcess>(program, args, elsewhere, output, closedStreams);
  }

  static bool traced(ChildProcess& child, const std::string& line) {
    waitFor([&] { return child.out().find(line) != std::string::npos || !child.running(); });
    return child.out().find(line) != std::string::npos;
  }

  void writeSlot(int act, int port) {
    writeFile(ini, slotSection(0, act, port, destination.port) + "[OTHER]\nKEEP=me\n");
  }

  TempDir temp;
  LoopbackListener destination;
  fs::path bin = temp / "bin", runtime = temp / "run", elsewhere = temp / "elsewhere";
  fs::path program = bin / "RelvaneTiv", ini = bin / "RelvaneTiv.ini";
  int started = 0;
};

}  // namespace

TEST_F(ProgramRun, RelaysAndOnSignalsSavesAndClosesInOrderButTheWindowedDebugRunIgnoresInterrupt) {
  const std::string debug = "DEBUGMODE ON\n********** Start RELVANE DEBUG MODE  *******\n"
                            "DEBUG_MODE ON\nCurrentDir=" + bin.string();
  const struct {
    std::vector<std::string> args;
    int signo;
    std::string out;  // the whole output without the switch, its opening with it
  } cases[] = {
      {{"--headless"}, SIGHUP, "1番目の引数=--headless\n"},
      {{"--headless"}, SIGINT, "1番目の引数=--headless\n"},
      {{"--headless", "-D583"}, SIGINT, "1番目の引数=--headless\n2番目の引数=-D583\n" + debug},
      {{}, SIGHUP, ""},
      {{}, SIGINT, ""},
      {{"-D583"}, SIGINT, "1番目の引数=-D583\n" + debug},
  };
  for (const auto& c : cases) {
    const bool debugRun = std::ranges::count(c.args, "-D583") > 0;
    const bool ignored = debugRun && c.args.size() == 1;  // SIGINT in the windowed debug run
    SCOPED_TRACE(c.out + " signal " + std::to_string(c.signo));
    const int port = freePort();
    writeSlot(1, port);
    auto child = start(c.args);
    ASSERT_TRUE(!ignored || traced(*child, windowShown)) << child->err();
    // The first connection that gets through is the one relayed.
    int client = -1;
    ASSERT_TRUE(waitFor([&] { return (client = connectLoopback(port, 200ms)) >= 0; })) << child->err();
    int server = destination.acceptOne();
    ASSERT_GE(server, 0);
    ASSERT_TRUE(sendAll(client, "request through the slot"));
    EXPECT_EQ(recvExact(server, 24), "request through the slot");
    ASSERT_TRUE(sendAll(server, "answer"));
    EXPECT_EQ(recvExact(client, 6), "answer");
    writeFile(ini, "[TCP-PORT0]\nACT=0\n[OTHER]\nKEEP=me\n");  // a hand edit: the save at exit wins
    child->signal(c.signo);
    if (ignored) {
      EXPECT_TRUE(traced(*child, "signal 2 ignored"));
      EXPECT_TRUE(accepting(port));
      child->signal(SIGTERM);
    }
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_TRUE(waitPeerClosed(client));
    EXPECT_TRUE(waitPeerClosed(server));
    EXPECT_FALSE(accepting(port));
    EXPECT_TRUE(hasLines(readFile(ini), {"ACT=1", "PORT=" + std::to_string(port),
                                         "FORWARDPORT=" + std::to_string(destination.port), "KEEP=me"}));
    EXPECT_FALSE(fs::exists(elsewhere / "RelvaneTiv.ini"));
    const std::string out = child->out();
    EXPECT_EQ(debugRun ? out.substr(0, c.out.size()) : out, c.out);
    if (ignored) {  // listening from the window's initialisation, before it is shown; closed in order
      EXPECT_LT(out.find("Listen() OK! Port=" + std::to_string(port)), out.find(windowShown));
      EXPECT_LT(out.find("signal 15, closing"), out.find("CRelvaneDlg::destroyPortPanels()"));
    }
    closeFd(client);
    closeFd(server);
  }
}

TEST_F(ProgramRun, SecondInstanceIsRefusedWhileTheFirstRunsAndAllowedAfterItEndsOrIsKilled) {
  const int port = freePort();
  writeSlot(1, port);
  for (int end : {SIGTERM, SIGKILL, SIGTERM}) {  // a killed holder saves nothing, but its lock goes
    auto first = start({"--headless"});
    ASSERT_TRUE(waitFor([&] { return accepting(port) || !first->running(); }));
    ASSERT_TRUE(first->running()) << first->err();
    auto second = start({"--headless"});
    EXPECT_EQ(second->waitExit(), 1);
    EXPECT_EQ(second->err(), "     既に起動されています.     \n");
    EXPECT_TRUE(accepting(port));
    first->signal(end);
    EXPECT_EQ(first->waitExit(), end == SIGTERM ? 0 : -1);
    EXPECT_TRUE(waitFor([&] { return !accepting(port); }));
  }
}

TEST_F(ProgramRun, RefusedSwitchOnIsReportedAndTheSlotIsSavedOff) {
  for (bool windowed : {false, true}) {
    SCOPED_TRACE(windowed ? "windowed" : "headless");
    writeSlot(1, 0);  // switched on without a listen port
    auto child = start({windowed ? "-D583" : "--headless"});
    // Windowed, the launch stops at the refusal box; termination ends the box, then the program.
    ASSERT_TRUE(windowed ? traced(*child, "CRelvaneDlg::onInitDialog()")
                         : waitFor([&] { return !child->err().empty(); }));
    EXPECT_TRUE(child->running());
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0) << child->out();
    if (!windowed) {
      EXPECT_EQ(child->err(), "Listenポートが無効な設定です\n");
    }
    EXPECT_TRUE(hasLines(readFile(ini), {"ACT=0", "FORWARDPORT=" + std::to_string(destination.port)}));
  }
}

// Started with standard input and output closed, the socket loop must not take their numbers
// and lose its descriptor when the streams are redirected.
TEST_F(ProgramRun, StartedWithClosedStandardStreamsStillRelays) {
  const int port = freePort();
  writeSlot(1, port);
  auto child = start({"--headless"}, true);
  int client = -1;
  ASSERT_TRUE(waitFor([&] { return (client = connectLoopback(port, 200ms)) >= 0; })) << child->err();
  int server = destination.acceptOne();
  ASSERT_GE(server, 0) << "the relay did not connect out";
  ASSERT_TRUE(sendAll(client, "ping"));
  EXPECT_EQ(recvExact(server, 4), "ping");
  child->signal(SIGTERM);
  EXPECT_EQ(child->waitExit(), 0);
  EXPECT_FALSE(accepting(port));
  closeFd(client);
  closeFd(server);
}
