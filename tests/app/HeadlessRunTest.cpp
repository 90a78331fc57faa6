// The built program run without a window, as a user would run it: from a directory of its
// own (a link to the build output), with an INI file beside it, ended by signals.
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

const char alreadyRunning[] = "     既に起動されています.     ";

std::string slotIni(int act, int port, int forwardPort, const std::string& extra = "") {
  return "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
         "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(forwardPort) + "\n" + extra;
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

bool accepting(int port) {
  int fd = testsupport::connectLoopback(port, 200ms);
  const bool connected = fd >= 0;
  testsupport::closeFd(fd);
  return connected;
}

class HeadlessRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin);
    fs::create_directories(runtime);
    fs::create_directories(elsewhere);
    fs::create_symlink(apptest::programPath(), program);
  }

  // Started from another directory, with the full path of the link as argument 0.
  std::unique_ptr<ChildProcess> start(std::vector<std::string> args, const std::string& name) {
    args.insert(args.begin(), program.string());
    fs::create_directories(temp / name);
    return std::make_unique<ChildProcess>(program, args,
                                          std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime.string()},
                                          elsewhere, temp / name);
  }

  std::unique_ptr<ChildProcess> startListening(int port, const std::string& name) {
    auto child = start({"--headless"}, name);
    EXPECT_TRUE(waitFor([&] { return accepting(port) || !child->running(); })) << child->standardOutput();
    return child;
  }

  testsupport::TempDir temp;
  fs::path bin = temp / "bin";
  fs::path runtime = temp / "run";
  fs::path elsewhere = temp / "elsewhere";
  fs::path program = bin / "RelvaneTiv";
  fs::path ini = bin / "RelvaneTiv.ini";
};

}  // namespace

TEST_F(HeadlessRun, RelaysTrafficAndOnTermSavesTheSlotAndClosesThePort) {
  testsupport::LoopbackListener destination;
  const int port = testsupport::freePort();
  const std::string saved =
      slotIni(1, port, destination.port, "BUFFERSIZE=64\n[OTHER]\nKEEP=me\n");
  writeFile(ini, saved);
  auto child = start({"--headless"}, "relay");
  // The first connection that gets through is the one relayed; a probe would be relayed too.
  int client = -1;
  ASSERT_TRUE(waitFor([&] { return (client = testsupport::connectLoopback(port, 200ms)) >= 0; }))
      << child->standardError();
  int server = destination.acceptOne();
  ASSERT_GE(server, 0);
  ASSERT_TRUE(testsupport::sendAll(client, "request through the slot"));
  EXPECT_EQ(testsupport::recvExact(server, 24), "request through the slot");
  ASSERT_TRUE(testsupport::sendAll(server, "answer"));
  EXPECT_EQ(testsupport::recvExact(client, 6), "answer");

  // A hand edit while running is overwritten by the save at the end.
  writeFile(ini, "[TCP-PORT0]\nACT=0\nBUFFERSIZE=64\n[OTHER]\nKEEP=me\n");
  child->signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child->waitExit(status));
  EXPECT_TRUE(exitedWith(status, 0)) << status;
  EXPECT_TRUE(testsupport::waitPeerClosed(client));
  EXPECT_TRUE(testsupport::waitPeerClosed(server));
  EXPECT_FALSE(accepting(port));
  const std::string after = readFile(ini);
  for (const std::string& line : std::vector<std::string>{"ACT=1", "PORT=" + std::to_string(port), "FORWARDHOST=127.0.0.1",
           "FORWARDPORT=" + std::to_string(destination.port), "BUFFERSIZE=64", "KEEP=me"})
    EXPECT_NE(after.find(line), std::string::npos) << line << " missing in\n" << after;
  EXPECT_FALSE(fs::exists(elsewhere / "RelvaneTiv.ini"));
  EXPECT_EQ(child->standardError(), "");
  testsupport::closeFd(client);
  testsupport::closeFd(server);
}

TEST_F(HeadlessRun, InterruptAndHangUpAlsoStopInOrder) {
  testsupport::LoopbackListener destination;
  for (int signo : {SIGINT, SIGHUP}) {
    const int port = testsupport::freePort();
    writeFile(ini, slotIni(1, port, destination.port));
    auto child = startListening(port, "signal" + std::to_string(signo));
    ASSERT_TRUE(accepting(port));
    writeFile(ini, "");
    child->signal(signo);
    int status = 0;
    ASSERT_TRUE(child->waitExit(status)) << signo;
    EXPECT_TRUE(exitedWith(status, 0)) << signo << " " << status;
    EXPECT_FALSE(accepting(port)) << signo;
    EXPECT_NE(readFile(ini).find("PORT=" + std::to_string(port)), std::string::npos) << signo;
  }
}

TEST_F(HeadlessRun, SecondInstanceIsRefusedWhileTheFirstRunsAndAllowedAfter) {
  testsupport::LoopbackListener destination;
  const int port = testsupport::freePort();
  writeFile(ini, slotIni(1, port, destination.port));
  auto first = startListening(port, "first");
  ASSERT_TRUE(accepting(port));

  auto second = start({"--headless"}, "second");
  int status = 0;
  ASSERT_TRUE(second->waitExit(status));
  EXPECT_TRUE(exitedWith(status, 1)) << status;
  EXPECT_EQ(second->standardError(), std::string(alreadyRunning) + "\n");
  EXPECT_TRUE(first->running());
  EXPECT_TRUE(accepting(port));

  first->signal(SIGTERM);
  ASSERT_TRUE(first->waitExit(status));
  auto third = startListening(port, "third");
  ASSERT_TRUE(accepting(port)) << third->standardError();

  // A killed holder saves nothing, but its lock goes with it.
  third->signal(SIGKILL);
  ASSERT_TRUE(third->waitExit(status));
  EXPECT_TRUE(waitFor([&] { return !accepting(port); }));
  auto fourth = startListening(port, "fourth");
  EXPECT_TRUE(accepting(port)) << fourth->standardError();
  fourth->signal(SIGTERM);
  ASSERT_TRUE(fourth->waitExit(status));
  EXPECT_TRUE(exitedWith(status, 0));
}

TEST_F(HeadlessRun, RefusedSwitchOnIsReportedAndLeavesTheSlotOffAndTheFileAlone) {
  testsupport::LoopbackListener destination;
  const std::string noListenPort = slotIni(1, 0, destination.port);
  writeFile(ini, noListenPort);
  auto child = start({"--headless"}, "refused");
  ASSERT_TRUE(waitFor([&] { return !child->standardError().empty(); }));
  EXPECT_EQ(child->standardError(), "Listenポートが無効な設定です\n");
  EXPECT_TRUE(child->running());
  EXPECT_EQ(readFile(ini), noListenPort);
  child->signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child->waitExit(status));
  EXPECT_TRUE(exitedWith(status, 0));
}

TEST_F(HeadlessRun, WithoutDebugSwitchOnlyTheArgumentLinesReachStandardOutput) {
  auto child = start({"--headless"}, "quiet");
  // No file yet: the launch writes the slot's section with the defaults.
  ASSERT_TRUE(waitFor([&] { return fs::exists(ini); }));
  child->signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child->waitExit(status));
  EXPECT_EQ(child->standardOutput(), "1番目の引数=--headless\n");
  EXPECT_NE(readFile(ini).find("FORWARDHOST=127.0.0.1"), std::string::npos);
}

TEST_F(HeadlessRun, DebugSwitchKeepsTheTraceAndTheWindowedRunIgnoresInterrupt) {
  auto child = start({"-D583"}, "debug");
  ASSERT_TRUE(waitFor([&] { return fs::exists(ini); }));
  child->signal(SIGINT);
  // Sent together, the two could be handled in either order; the trace shows when one is done.
  EXPECT_TRUE(waitFor([&] { return child->standardOutput().find("signal 2") != std::string::npos; }));
  child->signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child->waitExit(status));
  EXPECT_TRUE(exitedWith(status, 0));
  const std::string out = child->standardOutput();
  const std::string opening = "1番目の引数=-D583\nDEBUGMODE ON\n"
                              "********** Start RELVANE DEBUG MODE  *******\n"
                              "DEBUG_MODE ON\n"
                              "CurrentDir=" + bin.string();
  EXPECT_EQ(out.substr(0, opening.size()), opening);
  const auto ignored = out.find("signal 2 ignored");
  const auto closing = out.find("signal 15, closing");
  ASSERT_NE(ignored, std::string::npos) << out;
  ASSERT_NE(closing, std::string::npos) << out;
  EXPECT_LT(ignored, closing);
}

TEST_F(HeadlessRun, BareProgramNameKeepsTheStartingDirectory) {
  std::vector<std::string> args{"RelvaneTiv", "--headless"};
  fs::create_directories(temp / "bare");
  ChildProcess child(program, args, {"XDG_RUNTIME_DIR=" + runtime.string()}, elsewhere,
                     temp / "bare");
  ASSERT_TRUE(waitFor([&] { return fs::exists(elsewhere / "RelvaneTiv.ini"); }));
  child.signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child.waitExit(status));
  EXPECT_TRUE(exitedWith(status, 0));
  EXPECT_FALSE(fs::exists(ini));
}
