// The program as a service runs it, headless: one program per settings file whatever the path
// and environment, a start that a signal stops, a log that nobody reads, and a 1.0.1 user's
// settings file found in the start folder.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <regex>
#include <unistd.h>

#include "ChildProcess.h"

namespace fs = std::filesystem;
using namespace apptest;
using namespace testsupport;

namespace {

class ServiceRun : public ::testing::Test {
protected:
  void SetUp() override {
    for (const fs::path& dir : {bin, home, elsewhere}) fs::create_directories(dir);
    fs::copy_file(fs::path(RELVANE_BINARY_DIR) / "app" / "RelvaneTiv", program);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
  }

  // Headless, from `elsewhere`, with no runtime folder named and a home of its own.
  std::unique_ptr<ChildProcess> start(std::vector<std::string> args, int stderrFd = -1) {
    args.insert(args.begin(), {program.string(), "--headless"});
    const fs::path output = temp / ("out" + std::to_string(++started));
    fs::create_directories(output);
    return std::make_unique<ChildProcess>(program, args, elsewhere, output, false, environment, stderrFd);
  }

  static bool listening(ChildProcess& child, int port) {
    return waitUntil([&] { return accepting(port) || !child.running(); }) && child.running();
  }

  TempDir temp;
  LoopbackListener destination;
  fs::path bin = temp / "bin", home = temp / "home", elsewhere = temp / "elsewhere";
  fs::path program = bin / "RelvaneTiv", ini = temp / "RelvaneTiv.ini";
  const std::vector<std::string> environment = {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME=" + home.string(),
                                                "XDG_CONFIG_HOME=" + (temp / "xdg").string()};
  int started = 0;
};

}  // namespace

// With XDG_RUNTIME_DIR unset, a second program is refused on a hard link of the running one's
// file, then on a symbolic link to it once the file was replaced as a save replaces it.
TEST_F(ServiceRun, OneProgramPerFileThroughAHardLinkAndASavedFileWithoutARuntimeFolderNamed) {
  const int port = freePort();
  writeFile(ini, slotSection(0, 1, port, destination.port));
  auto first = start({"--config", ini.string()});
  ASSERT_TRUE(listening(*first, port)) << first->err();

  fs::create_hard_link(ini, temp / "hard.ini");
  fs::create_symlink(ini, temp / "link.ini");
  for (const char* other : {"hard.ini", "link.ini"}) {
    auto second = start({"--config", (temp / other).string()});
    EXPECT_EQ(second->waitExit(), 1);
    EXPECT_EQ(second->err(), "     既に起動されています.     \n");
    writeFile(temp / "saved.ini", readFile(ini));
    fs::rename(temp / "saved.ini", ini);  // as a save replaces it: a new inode under the old name
  }

  first->signal(SIGTERM);
  EXPECT_EQ(first->waitExit(), 0);
}

// The signal is held back by the launcher until the program unblocks it, which lands it in
// the start, after the settings were found and before the first port opens: no port opens,
// nothing is saved, and the program ends in order.
TEST_F(ServiceRun, ASignalDuringTheStartEndsItBeforeAnotherPortOpens) {
  for (int signo : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signo);
    const int first = freePort(), second = freePort();
    writeFile(ini, slotSection(0, 1, first, destination.port) + slotSection(1, 1, second, destination.port));
    const std::string before = readFile(ini);
    sigset_t held, previous;
    sigemptyset(&held);
    sigaddset(&held, signo);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    auto child = start({"--config", ini.string()});
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    child->signal(signo);
    EXPECT_EQ(child->waitExit(5s), 0);
    EXPECT_EQ(child->err().find("待ち受け開始"), std::string::npos) << child->err();
    EXPECT_EQ(readFile(ini), before);
  }
}

// Standard error is a pipe nobody reads (a pager left alone, a stuck collector): the relay
// goes on through 2 000 connections whose log lines do not fit, the lines that found no room
// are counted once the reader catches up, and SIGTERM ends the program.
TEST_F(ServiceRun, ALogPipeNobodyReadsHoldsUpNeitherTheRelayNorTheStop) {
  int log[2];
  ASSERT_EQ(::pipe2(log, O_CLOEXEC), 0);
  ::fcntl(log[0], F_SETPIPE_SZ, 4096);  // as small as the system allows: the queue fills sooner
  const int port = freePort();
  writeFile(ini, slotSection(0, 1, port, destination.port));
  auto child = start({"--config", ini.string()}, log[1]);
  ::close(log[1]);
  for (int i = 0; i < 2000; ++i) {
    Relayed relayed(port, destination, *child);
    ASSERT_GE(relayed.server, 0) << "connection " << i;
  }

  // Read now: the queued lines come, with one line in the place of those that did not fit.
  std::string text;
  int written = 0, dropped = 0;
  ::fcntl(log[0], F_SETFL, O_NONBLOCK);
  waitUntil([&] {
    char buffer[65536];
    for (ssize_t n; (n = ::read(log[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    written = static_cast<int>(std::count(text.begin(), text.end(), '\n')) - 1;  // but the listening line
    dropped = 0;
    const std::regex omitted(R"(\n\S+ \S+ (\d+) 行を省略しました\n)");
    for (std::sregex_iterator m(text.begin(), text.end(), omitted), end; m != end; ++m)
      dropped += std::stoi((*m)[1]), --written;
    return written + dropped >= 2000;
  });
  EXPECT_GT(dropped, 0) << text.substr(0, 300);
  EXPECT_EQ(written + dropped, 2000) << "every connection is written or counted, once";

  child->signal(SIGTERM);
  EXPECT_EQ(child->waitExit(5s), 0);
  ::close(log[0]);
}

// 1.0.1 kept the file in the start folder: it is copied to the configuration folder once, the
// slot saved ON starts, and the old file stays as it was.
TEST_F(ServiceRun, TheStartFolderFileOf101IsCopiedOnceToTheConfigurationFolder) {
  const int port = freePort();
  const std::string old = slotSection(0, 1, port, destination.port) + "[OTHER]\nKEEP=me\n";
  writeFile(elsewhere / "RelvaneTiv.ini", old);
  const fs::path copied = temp / "xdg/relvanetiv/RelvaneTiv.ini";
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    auto child = start({});
    ASSERT_TRUE(listening(*child, port)) << child->err();
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    const std::string said = "開始フォルダの設定ファイル " + (elsewhere / "RelvaneTiv.ini").string() + " を " +
                             copied.string() + " にコピーしました。";
    EXPECT_EQ(child->err().find(said) != std::string::npos, run == 0) << child->err();
    EXPECT_EQ(readFile(copied), old);
    EXPECT_EQ(readFile(elsewhere / "RelvaneTiv.ini"), old);
  }
}
