// The built program run as a user runs it -- headless, or with its window on the offscreen
// platform -- from a directory of its own with the INI file beside it, ended by signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>

#include "ChildProcess.h"

namespace fs = std::filesystem;
using namespace apptest;
using namespace testsupport;

namespace {

const std::string windowShown = "CRelvaneDlg::showMainWindow(1)\n";
const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";

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

int portOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

}  // namespace

TEST_F(ProgramRun, RelaysAndOnSignalsSavesAndClosesInOrderButTheWindowedDebugRunIgnoresInterrupt) {
  const std::string debug = "DEBUGMODE ON\n********** Start RELVANE DEBUG MODE  *******\n"
                            "DEBUG_MODE ON\nCurrentDir=" + bin.string();
  const struct {
    std::vector<std::string> args;
    int signo;
    std::string out;  // the whole output without the switch, its opening with it
  } cases[] = {
      {{"--headless"}, SIGHUP, ""},  // the argument lines belong to the debug trace
      {{"--headless", "--quiet"}, SIGINT, ""},
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
  for (const std::string mode : {"--headless", "--quiet", "-D583"}) {
    const bool windowed = mode == "-D583";
    SCOPED_TRACE(mode);
    writeSlot(1, 0);  // switched on without a listen port
    auto child = start(mode == "--quiet" ? std::vector<std::string>{"--headless", mode} : std::vector{mode});
    // Windowed, the launch stops at the refusal box; termination ends the box, then the program.
    ASSERT_TRUE(windowed ? traced(*child, "CRelvaneDlg::onInitDialog()")
                         : waitFor([&] { return !child->err().empty(); }));
    EXPECT_TRUE(child->running());
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0) << child->out();
    if (mode == "--quiet") {
      EXPECT_EQ(child->err(), "Listenポートが無効な設定です\n") << "an error is said even in a quiet run";
    } else if (!windowed) {
      EXPECT_TRUE(std::regex_match(child->err(), std::regex(stamp + "slot0 ON拒否 理由=Listenポートが無効な設定です\n")))
          << child->err();
    }
    EXPECT_TRUE(hasLines(readFile(ini), {"ACT=0", "FORWARDPORT=" + std::to_string(destination.port)}));
  }
}

// Without a window the event log goes to standard error, one stamped line per event, and
// --quiet turns it off.
TEST_F(ProgramRun, HeadlessRunLogsEventsOnStandardErrorUnlessQuiet) {
  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "logging");
    const int port = freePort();
    writeSlot(1, port);
    auto child = start(quiet ? std::vector<std::string>{"--headless", "--quiet"} : std::vector<std::string>{"--headless"});
    int client = -1;
    ASSERT_TRUE(waitFor([&] { return (client = connectLoopback(port, 200ms)) >= 0; })) << child->err();
    int server = destination.acceptOne();
    ASSERT_TRUE(sendAll(client, "12345"));
    EXPECT_EQ(recvExact(server, 5), "12345");
    ASSERT_TRUE(sendAll(server, "abc"));
    EXPECT_EQ(recvExact(client, 3), "abc");
    const std::string from = "127.0.0.1:" + std::to_string(portOf(client));
    closeFd(client);
    EXPECT_TRUE(waitPeerClosed(server));
    closeFd(server);
    if (!quiet) {
      EXPECT_TRUE(waitFor([&] { return child->err().find("接続終了") != std::string::npos; }));
    }
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    const std::string dest = "127.0.0.1:" + std::to_string(destination.port);
    const std::string expected = stamp + "slot0 待ち受け開始 待受=0\\.0\\.0\\.0:" + std::to_string(port) + " 転送先=" + dest + "\n" +
                                 stamp + "slot0 接続終了 接続元=" + from + " 転送先=" + dest +
                                 " 受信=5 送信=3 時間=\\d+\\.\\d{3}s 終了=クライアントが切断\n" + stamp + "slot0 停止\n";
    if (quiet) {
      EXPECT_EQ(child->err(), "");
    } else {
      EXPECT_TRUE(std::regex_match(child->err(), std::regex(expected))) << child->err();
    }
    EXPECT_EQ(child->out(), "");
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
