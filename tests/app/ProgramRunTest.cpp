// The built program run as a user runs it -- headless, or with its window on the offscreen
// platform -- from a directory of its own with the INI file beside it, ended by signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sys/stat.h>

#include "ChildProcess.h"

namespace fs = std::filesystem;
using namespace apptest;
using namespace testsupport;

namespace {

constexpr bool kWindowed = RELVANE_WINDOWED;  // built with Qt

class ProgramRun : public ::testing::Test {
protected:
  void SetUp() override {
    for (const fs::path& dir : {bin, runtime, elsewhere}) fs::create_directories(dir);
    fs::permissions(runtime, fs::perms::owner_all);  // as a session's runtime directory is
    // A copy, not a link: the program finds its folder through the system, so a link would
    // lead it to the build's own folder.
    fs::copy_file(fs::path(RELVANE_BINARY_DIR) / "app" / "RelvaneTiv", program);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (temp / "xdg").c_str(), 1);  // never the user's own
    if (kWindowed) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    else  // built without Qt it runs without a display, with or without --headless
      for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
  }

  // Started from another directory, by default as `program` with its full path as argument 0.
  std::unique_ptr<ChildProcess> start(std::vector<std::string> args, const std::vector<std::string>& environment = {},
                                      bool closedStreams = false, const fs::path& path = {},
                                      const std::string& argv0 = {}) {
    args.insert(args.begin(), argv0.empty() ? program.string() : argv0);
    const fs::path output = temp / ("out" + std::to_string(++started));
    fs::create_directories(output);
    return std::make_unique<ChildProcess>(path.empty() ? program : path, args, elsewhere, output, closedStreams,
                                          environment);
  }

  static bool listening(ChildProcess& child, int port) {
    return waitUntil([&] { return accepting(port) || !child.running(); }) && child.running();
  }

  void writeSlot(int act, int port, const std::string& more = "") {
    writeFile(ini, slotSection(0, act, port, destination.port) + "[OTHER]\nKEEP=me\n" + more);
  }

  TempDir temp;
  LoopbackListener destination;
  fs::path bin = temp / "bin", runtime = temp / "run", elsewhere = temp / "elsewhere";
  fs::path program = bin / "RelvaneTiv", ini = bin / "RelvaneTiv.ini";
  int started = 0;
};

}  // namespace

// One run starts with standard input and output closed: the socket loop must not take their
// numbers and lose its descriptor when the streams are redirected. In the windowed debug run
// SIGINT is ignored (the build without Qt has no window: it closes); in the last run a refusal
// box at launch is up while the first slot relays, and termination ends the box, then the program.
TEST_F(ProgramRun, RelaysAndOnSignalsSavesAndClosesInOrderButTheWindowedDebugRunIgnoresInterrupt) {
  const std::string debug =
      "DEBUGMODE ON\n********** Start RELVANE DEBUG MODE  *******\n"
      "DEBUG_MODE ON\nCurrentDir=" +
      bin.string();
  const struct {
    std::vector<std::string> args;
    int signo;
    std::string out;  // the whole output without the switch, its opening with it
    bool closedStreams = false;
    std::string more = "";  // sections after the relaying one
  } cases[] = {
      {{"--headless"}, SIGHUP, ""},  // the argument lines belong to the debug trace
      {{"--headless"}, SIGTERM, "", true},
      {{"--headless", "-D583"}, SIGINT, "1番目の引数=--headless\n2番目の引数=-D583\n" + debug},
      {{}, SIGINT, ""},
      {{"-D583"}, SIGINT, "1番目の引数=-D583\n" + debug},
      {{}, SIGTERM, "", false, "[TCP-PORT1]\nACT=1\nPORT=0\n"},
  };
  for (const auto& c : cases) {
    const bool debugRun = std::ranges::count(c.args, "-D583") > 0;
    const bool ignored = kWindowed && debugRun && c.args.size() == 1;
    SCOPED_TRACE(c.out + " signal " + std::to_string(c.signo));
    const int port = freePort();
    writeSlot(1, port, c.more);
    const std::string launched = readFile(ini);
    auto child = start(c.args, {}, c.closedStreams);
    Relayed pair(port, destination, *child);
    ASSERT_GE(pair.server, 0) << child->err();
    EXPECT_EQ(readFile(ini), launched) << "a refusal at launch keeps ACT=1";
    const std::string handEdit = "[TCP-PORT0]\nACT=0\n[OTHER]\nKEEP=me\n" + c.more;
    writeFile(ini, handEdit);  // made while it runs: not undone at exit
    child->signal(c.signo);
    for (int trip = 0; ignored && trip < 2; ++trip)  // by the second the loop has read the signal
      EXPECT_TRUE(sendAll(pair.client, "x") && recvExact(pair.server, 1) == "x") << "still relaying";
    if (ignored) child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_TRUE(waitPeerClosed(pair.client) && waitPeerClosed(pair.server));
    EXPECT_FALSE(accepting(port));
    EXPECT_EQ(readFile(ini), handEdit);
    EXPECT_FALSE(fs::exists(elsewhere / "RelvaneTiv.ini"));
    const std::string out = child->out();
    EXPECT_EQ(debugRun ? out.substr(0, c.out.size()) : out, c.out);
  }
}

TEST_F(ProgramRun, OneProgramPerSettingsFileWhileItRunsAndAfterItEndsOrIsKilledFoundBesideTheRealExecutable) {
  const int port = freePort(), otherPort = freePort();
  writeSlot(1, port);
  writeFile(elsewhere / "other.ini", slotSection(0, 1, otherPort, destination.port));
  const fs::path link = elsewhere / "relay-link";
  fs::create_symlink(program, link);
  // A killed holder saves nothing, but its lock goes. Started through a symbolic link or by a
  // bare name, the program still finds the file beside its real self.
  for (auto [end, argv0] :
       {std::pair{SIGTERM, link.string()}, {SIGKILL, std::string("RelvaneTiv")}, {SIGTERM, program.string()}}) {
    auto first = start({"--headless"}, {}, false, link, argv0);
    ASSERT_TRUE(listening(*first, port)) << first->err();
    auto second = start({"--headless", "--config", ini.string()});  // the same file, named
    EXPECT_EQ(second->waitExit(), 1);
    EXPECT_EQ(second->err(), "     既に起動されています.     \n");
    auto beside = start({"--headless", "--config=other.ini"});  // another file, relative: side by side
    EXPECT_TRUE(listening(*beside, otherPort)) << beside->err();
    EXPECT_TRUE(accepting(port));
    first->signal(end);
    EXPECT_EQ(first->waitExit(), end == SIGTERM ? 0 : -1);
    EXPECT_TRUE(waitUntil([&] { return !accepting(port); })) << first->err();
    EXPECT_TRUE(accepting(otherPort)) << beside->err();
    beside->signal(SIGTERM);
    EXPECT_EQ(beside->waitExit(), 0) << beside->err();
  }
}

// Without a window the event log goes to standard error, one stamped line per event (the
// slot's tests show each line's text); --quiet leaves only the errors.
TEST_F(ProgramRun, HeadlessRunsEverySlotLogsOnStandardErrorAndEndsWithOneWhenNoneCanStart) {
  // Two ON slots around a refused one, then one that is ON without a host: it starts nothing, silently.
  const int ports[] = {freePort(), freePort()};
  const std::string file = slotSection(0, 1, ports[0], destination.port, "127.0.0.1", "BUFFERSIZE=65536\n") +
                           "[TCP-PORT1]\nACT=1\nPORT=-1\nFORWARDPORT=80x\nBUFFERSIZE=0\n" +
                           slotSection(2, 1, ports[1], destination.port) +
                           slotSection(3, 1, 8080, 80, "", "BUFFERSIZE=65537\n") + "[OTHER]\nKEEP=me\n";
  writeFile(ini, file);
  auto child = start({"--headless"});
  // Seen in the log rather than probed, which would add connection lines.
  EXPECT_TRUE(
      waitUntil([&] { return child->err().find("TCP-PORT2 待ち受け開始") != std::string::npos || !child->running(); }));
  child->signal(SIGTERM);
  EXPECT_EQ(child->waitExit(), 0);
  EXPECT_EQ(readFile(ini), file) << "a refusal at launch changes nothing on disk";
  // Each slot's bad values follow its own log lines (a time stamp marks a log line).
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
  const std::string expected =
      stamp + "TCP-PORT0 待ち受け開始 待受=0\\.0\\.0\\.0:" + std::to_string(ports[0]) +
      " 転送先=127\\.0\\.0\\.1:" + std::to_string(destination.port) + "\n" + stamp +
      "TCP-PORT1 ON拒否 理由=Listenポートが無効な設定です\n" +
      "TCP-PORT1 の PORT=-1 は無効な値です \\(0～65535\\)\nTCP-PORT1 の FORWARDPORT=80x は無効な値です \\(0～65535\\)\n"
      "TCP-PORT1 の BUFFERSIZE=0 は無効な値です \\(1～65536\\)\n" +
      stamp + "TCP-PORT2 待ち受け開始 待受=0\\.0\\.0\\.0:" + std::to_string(ports[1]) +
      " .*\nTCP-PORT3 の BUFFERSIZE=65537 は無効な値です \\(1～65536\\)\n"
      "TCP-PORT3 は ACT=1 ですが FORWARDHOST が空です\n" +
      stamp + "TCP-PORT0 停止\n" + stamp + "TCP-PORT2 停止\n";
  EXPECT_TRUE(std::regex_match(child->err(), std::regex(expected))) << child->err();
  EXPECT_EQ(child->out(), "");

  // Nothing can start, and the file cannot even take the new slot's section: all of it is
  // said on standard error, and the run ends at once with 1.
  LoopbackListener taken;
  writeFile(ini, "[OTHER]\nKEEP=me\n");
  ::chmod(ini.c_str(), 0444);
  const std::string none = "起動できたスロットがありません (ACT=1 で起動できるスロットが必要です)\n";
  auto unsaved = start({"--headless", "--quiet"});
  EXPECT_EQ(unsaved->waitExit(5s), 1);
  EXPECT_EQ(unsaved->err(), "設定を保存できませんでした: " + ini.string() + " (Permission denied)" +
                                "。変更はメモリ上に保持し、次の保存で再び書き込みます\n" + none);
  ::chmod(ini.c_str(), 0644);
  writeSlot(1, taken.port);  // the port is busy for now: ACT stays for the next launch
  const std::string busy = readFile(ini);
  auto again = start({"--headless", "--quiet"});
  EXPECT_EQ(again->waitExit(5s), 1);
  EXPECT_EQ(again->err(), "TCP-PORT0: Listenポート(" + std::to_string(taken.port) +
                              ")を開けませんでした (Address already in use)\n" + none);
  EXPECT_EQ(readFile(ini), busy);
}

TEST_F(ProgramRun, CommandLineAnswersWithoutADisplayAWindowedStartWithoutOneSaysSoAndTheConfigFolderServes) {
  const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const std::string line =
      "ディスプレイが見つかりません。ウィンドウなしでスロットを動かすには "
      "--headless を付けて起動してください\n";
  const struct {
    std::vector<std::string> args, environment;
    int code;
    std::string out, err;  // a part of each; "" for an empty stream
  } cases[] = {
      {{"--help"}, noDisplay, 0, "--config PATH", ""},
      {{"--version", "-D583"},
       noDisplay,
       0,
       "RelvaneTiv " RELVANE_PROJECT_VERSION "\nライセンス: GNU GPL バージョン 3 以降 (GPL-3.0-or-later)",
       ""},
      {{"--headless", "--bogus"}, noDisplay, 2, "", "不明なオプションです: --bogus\n使い方:"},
      {{}, noDisplay, 1, "", line},
      {{"-D583"}, {"DISPLAY=:97", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}, 1, "", line},  // nobody there
  };
  for (const auto& c : cases) {
    if (!kWindowed && c.code == 1) continue;  // without Qt these run headless
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
    auto child = start(c.args, c.environment);
    EXPECT_EQ(child->waitExit(), c.code) << child->err();
    const std::string out = child->out(), err = child->err();
    EXPECT_TRUE(c.out.empty() ? out.empty() : out.find(c.out) != std::string::npos) << out;
    EXPECT_TRUE(c.code == 1 ? err == line : c.err.empty() ? err.empty() : err.find(c.err) != std::string::npos) << err;
  }
  EXPECT_FALSE(fs::exists(ini)) << "nothing ran, nothing was saved";
  // No file beside the program: the user's configuration folder, made on the first save.
  auto first = start({"--headless"});
  EXPECT_EQ(first->waitExit(), 1) << "nothing saved ON: nothing to serve";
  EXPECT_EQ(readFile(temp / "xdg/relvanetiv/RelvaneTiv.ini"), slotSection(0, 0, 0, 0));
  EXPECT_FALSE(fs::exists(ini));
}
