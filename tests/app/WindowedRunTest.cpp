// The built program with its window on the offscreen platform, run as a user runs it:
// from a directory of its own, an INI file beside it, ended by signals.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>

#include "ChildProcess.h"
#include "Loopback.h"
#include "TempDir.h"

namespace fs = std::filesystem;
using apptest::ChildProcess;
using apptest::waitFor;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char windowShown[] = "CRelvaneDlg::showMainWindow(1)\n";

std::string slotIni(int act, int port, int forwardPort) {
  return "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
         "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(forwardPort) +
         "\n[OTHER]\nKEEP=me\n";
}

bool accepting(int port) {
  int fd = testsupport::connectLoopback(port, 200ms);
  const bool connected = fd >= 0;
  testsupport::closeFd(fd);
  return connected;
}

class WindowedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);  // as a session's runtime directory is
    fs::create_symlink(apptest::programPath(), program);
  }

  std::unique_ptr<ChildProcess> start(std::vector<std::string> args, const std::string& name) {
    args.insert(args.begin(), program.string());
    fs::create_directories(temp / name);
    return std::make_unique<ChildProcess>(
        program, args,
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime.string(), "QT_QPA_PLATFORM=offscreen"},
        temp.path(), temp / name);
  }

  bool traced(ChildProcess& child, const std::string& line) {
    return waitFor([&] {
      return child.standardOutput().find(line) != std::string::npos || !child.running();
    }) && child.standardOutput().find(line) != std::string::npos;
  }

  void expectSavedAndClosed(ChildProcess& child, int port, int forwardPort) {
    int status = 0;
    ASSERT_TRUE(child.waitExit(status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(accepting(port));
    const std::string saved = readFile(ini);
    for (const std::string& line : std::vector<std::string>{
             "ACT=1", "PORT=" + std::to_string(port), "FORWARDPORT=" + std::to_string(forwardPort),
             "KEEP=me"})
      EXPECT_NE(saved.find(line), std::string::npos) << line << " missing in\n" << saved;
  }

  testsupport::TempDir temp;
  fs::path bin = temp / "bin";
  fs::path runtime = temp / "run";
  fs::path program = bin / "RelvaneTiv";
  fs::path ini = bin / "RelvaneTiv.ini";
};

}  // namespace

TEST_F(WindowedRun, ListensBeforeTheWindowShowsRelaysAndOnTermSavesAndCloses) {
  testsupport::LoopbackListener destination;
  const int port = testsupport::freePort();
  writeFile(ini, slotIni(1, port, destination.port));
  auto child = start({"-D583"}, "relay");
  ASSERT_TRUE(traced(*child, windowShown)) << child->standardOutput() << child->standardError();

  // The slot was started during the window's initialisation, before it was shown.
  const std::string out = child->standardOutput();
  const auto listening = out.find("Listen() OK! Port=" + std::to_string(port));
  ASSERT_NE(listening, std::string::npos) << out;
  EXPECT_LT(listening, out.find(windowShown));

  int client = testsupport::connectLoopback(port);
  ASSERT_GE(client, 0);
  int server = destination.acceptOne();
  ASSERT_GE(server, 0);
  ASSERT_TRUE(testsupport::sendAll(client, "through the window's slot"));
  EXPECT_EQ(testsupport::recvExact(server, 25), "through the window's slot");
  ASSERT_TRUE(testsupport::sendAll(server, "answer"));
  EXPECT_EQ(testsupport::recvExact(client, 6), "answer");

  writeFile(ini, "[TCP-PORT0]\nACT=0\n[OTHER]\nKEEP=me\n");  // the save at exit wins
  child->signal(SIGTERM);
  expectSavedAndClosed(*child, port, destination.port);
  EXPECT_TRUE(testsupport::waitPeerClosed(client));
  EXPECT_TRUE(testsupport::waitPeerClosed(server));
  const std::string trace = child->standardOutput();
  EXPECT_LT(trace.find("signal 15, closing"), trace.find("CRelvaneDlg::destroyPortPanels()"));
  EXPECT_EQ(child->standardError(), "");
  testsupport::closeFd(client);
  testsupport::closeFd(server);
}

TEST_F(WindowedRun, HangUpAndInterruptWithoutDebugSwitchCloseInOrder) {
  testsupport::LoopbackListener destination;
  for (int signo : {SIGHUP, SIGINT}) {
    const int port = testsupport::freePort();
    writeFile(ini, slotIni(1, port, destination.port));
    auto child = start({}, "signal" + std::to_string(signo));
    ASSERT_TRUE(waitFor([&] { return accepting(port) || !child->running(); }))
        << signo << child->standardError();
    writeFile(ini, "[OTHER]\nKEEP=me\n");
    child->signal(signo);
    expectSavedAndClosed(*child, port, destination.port);
    EXPECT_EQ(child->standardOutput(), "") << signo;  // no switch: the trace is discarded
  }
}

TEST_F(WindowedRun, TerminationDuringALaunchMessageBoxEndsTheBoxAndThenTheProgram) {
  testsupport::LoopbackListener destination;
  // Switched on without a listen port: the launch stops at the refusal box.
  writeFile(ini, slotIni(1, 0, destination.port));
  auto child = start({"-D583"}, "box");
  ASSERT_TRUE(traced(*child, "CRelvaneDlg::onInitDialog()"));
  child->signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child->waitExit(status)) << child->standardOutput();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(child->standardOutput().find("CRelvaneDlg::destroyPortPanels()"), std::string::npos);
  // The refused slot is saved switched off, its other settings kept.
  const std::string saved = readFile(ini);
  EXPECT_NE(saved.find("ACT=0"), std::string::npos) << saved;
  EXPECT_NE(saved.find("FORWARDPORT=" + std::to_string(destination.port)), std::string::npos);
}
