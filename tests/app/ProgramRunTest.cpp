// The built program run as a user runs it -- headless, or with its window on the offscreen
// platform -- from a directory of its own with the INI file beside it, ended by signals; and as
// a service runs it: one program per settings file whatever the path and environment, a start
// that a signal stops, a log that nobody reads, and a 1.0.1 user's file found in the start folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProgramRunFixture.h"

namespace fs = std::filesystem;
using namespace testsupport;
using namespace programrun;

namespace {

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";

// A second program's refusal on standard error: the window box's own words, and the file.
bool refusedOn(const std::string& err, const fs::path& file) {
  const std::string words = " RelvaneTiv 起動拒否 設定=" + file.string() +
                            " 内容=\"     既に起動されています.     \"\n";
  return std::regex_match(err.substr(0, 23), std::regex(kStamp.substr(0, kStamp.size() - 1))) &&
         err.substr(23) == words;
}

}  // namespace

// One run starts with standard input and output closed: the socket loop must not take their
// numbers and lose its descriptor when the streams are redirected. In the windowed debug run
// SIGINT is ignored (the build without Qt has no window: it closes); in the last run a refusal
// box at launch is up while the first slot relays, and termination ends the box, then the program.
TEST_F(ProgramRun, RelaysAndOnSignalsSavesAndClosesInOrderButTheWindowedDebugRunIgnoresInterrupt) {
  const std::string debug = "DEBUGMODE ON\n********** Start RELVANE DEBUG MODE  *******\nDEBUG_MODE ON\nCurrentDir=";
  const struct {
    std::vector<std::string> args;
    int signo;
    std::string out;  // the whole output without the switch, its opening with it
    bool closedStreams = false;
    std::string more = "";  // sections after the relaying one
  } cases[] = {
      {{"--headless"}, SIGINT, ""},  // the argument lines belong to the debug trace
      {{"--headless"}, SIGTERM, "", true},
      {{"--headless", "-D583"}, SIGINT, "1番目の引数=--headless\n2番目の引数=-D583\n" + debug + bin.string()},
      {{}, kWindowed ? SIGHUP : SIGINT, ""},  // the window closes on SIGHUP; a headless run reloads
      {{"-D583"}, SIGINT, "1番目の引数=-D583\n" + debug + bin.string()},
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
    EXPECT_EQ(ignored ? child->stop() : child->waitExit(), 0);
    EXPECT_TRUE(waitPeerClosed(pair.client) && waitPeerClosed(pair.server) && !accepting(port));
    EXPECT_EQ(readFile(ini), handEdit);
    EXPECT_FALSE(fs::exists(elsewhere / "RelvaneTiv.ini"));
    EXPECT_EQ(debugRun ? child->out().substr(0, c.out.size()) : child->out(), c.out);
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
    ASSERT_TRUE(first->listening(port)) << first->err();
    auto second = start({"--headless", "--config", ini.string()});  // the same file, named
    EXPECT_TRUE(second->waitExit() == 1 && refusedOn(second->err(), ini)) << second->err();
    auto beside = start({"--headless", "--config=other.ini"});  // another file, relative: side by side
    EXPECT_TRUE(beside->listening(otherPort) && accepting(port)) << beside->err();
    EXPECT_EQ(first->stop(end), end == SIGTERM ? 0 : -1);
    EXPECT_TRUE(waitUntil([&] { return !accepting(port); }) && accepting(otherPort)) << first->err() << beside->err();
    EXPECT_EQ(beside->stop(), 0) << beside->err();
  }
}

// The signal is held back by the launcher until the program unblocks it, which lands it in
// the start, after the settings were found and before the first port opens: no port opens,
// nothing is saved, and the program ends in order.
TEST_F(ProgramRun, AsAServiceASignalDuringTheStartEndsItBeforeAnotherPortOpens) {
  for (int signo : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signo);
    writeFile(ini, slotSection(0, 1, freePort(), destination.port) + slotSection(1, 1, freePort(), destination.port));
    const std::string before = readFile(ini);
    sigset_t held, previous;
    sigemptyset(&held), sigaddset(&held, signo), ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    auto child = service({"--config", ini.string()});
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(child->stop(signo), 0);
    EXPECT_EQ(child->err().find("待ち受け開始"), std::string::npos) << child->err();
    EXPECT_EQ(readFile(ini), before);
  }
}

// Standard error is a pipe nobody reads (a pager left alone, a stuck collector): the relay
// goes on through 2 000 connections whose log lines (one as each opens, one as it ends) do not
// fit, the lines that found no room are counted once the reader catches up, and SIGTERM ends
// the program.
TEST_F(ProgramRun, AsAServiceALogPipeNobodyReadsHoldsUpNeitherTheRelayNorTheStop) {
  int log[2];
  ASSERT_EQ(::pipe2(log, O_CLOEXEC), 0);
  ::fcntl(log[0], F_SETPIPE_SZ, 4096);  // as small as the system allows: the queue fills sooner
  const int port = freePort();
  writeSlot(1, port);
  auto child = service({"--config", ini.string()}, log[1]);
  ::close(log[1]);
  for (int i = 0; i < 2000; ++i) ASSERT_GE(Relayed(port, destination, *child).server, 0) << "connection " << i;

  // Read now: the queued lines come, with one line in the place of those that did not fit.
  std::string text;
  int written = 0, dropped = 0;
  ::fcntl(log[0], F_SETFL, O_NONBLOCK);
  waitUntil([&] {
    char buffer[65536];
    for (ssize_t n; (n = ::read(log[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    // But the listening line and the start line.
    written = static_cast<int>(std::count(text.begin(), text.end(), '\n')) - 2;
    dropped = 0;
    const std::regex omitted(R"(\n\S+ \S+ RelvaneTiv 行省略 行数=(\d+)\n)");
    for (std::sregex_iterator m(text.begin(), text.end(), omitted), end; m != end; ++m)
      dropped += std::stoi((*m)[1]), --written;
    return written + dropped >= 4000;
  });
  EXPECT_GT(dropped, 0) << text.substr(0, 300);
  EXPECT_EQ(written + dropped, 4000) << "every connection's two lines are written or counted, once";
  EXPECT_EQ(child->stop(), 0);
  ::close(log[0]);
}

// 1.0.1 kept the file in the start folder: it is copied to the configuration folder once, the
// slot saved ON starts, and the old file stays as it was. With XDG_RUNTIME_DIR unset, a second
// program is refused on a hard link of the running one's file, then on a symbolic link to it
// once the file was replaced as a save replaces it.
TEST_F(ProgramRun, AsAServiceTheStartFolderFileOf101IsCopiedOnceAndLockedThroughAHardLinkAndASave) {
  const int port = freePort();
  const std::string old = slotSection(0, 1, port, destination.port) + "[OTHER]\nKEEP=me\n";
  const fs::path startFolderFile = elsewhere / "RelvaneTiv.ini", copied = temp / "xdg/relvanetiv/RelvaneTiv.ini";
  writeFile(startFolderFile, old);
  const std::string said = "開始フォルダの設定ファイル " + startFolderFile.string() + " を " + copied.string() +
                           " にコピーしました。";
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    auto child = service({});
    ASSERT_TRUE(child->listening(port)) << child->err();
    // The second run finds the copy: its file is reached through a hard link and a symbolic one.
    if (run == 1) fs::create_hard_link(copied, temp / "hard.ini"), fs::create_symlink(copied, temp / "link.ini");
    for (const char* other : {"hard.ini", "link.ini"}) {
      if (run == 0) break;
      auto second = service({"--config", (temp / other).string()});
      EXPECT_TRUE(second->waitExit() == 1 && refusedOn(second->err(), temp / other)) << second->err();
      writeFile(temp / "saved.ini", readFile(copied));
      fs::rename(temp / "saved.ini", copied);  // as a save replaces it: a new inode under the old name
    }
    EXPECT_EQ(child->stop(), 0);
    EXPECT_EQ(child->err().find(said) != std::string::npos, run == 0) << child->err();
    EXPECT_TRUE(readFile(copied) == old && readFile(startFolderFile) == old) << readFile(copied);
  }
}

// Without a window the event log goes to standard error, one stamped line per event (the
// slot's tests show each line's text) and the start line once every slot has started; --quiet
// leaves only the errors. Every line has the one shape, the file's problems and the refusals too.
TEST_F(ProgramRun, HeadlessRunsEverySlotLogsOnStandardErrorAndEndsWithOneWhenNoneCanStart) {
  // Two ON slots around a refused one, then one that is ON without a host: it starts nothing, silently.
  const std::string ports[] = {std::to_string(freePort()), std::to_string(freePort())};
  const std::string file = slotSection(0, 1, std::stoi(ports[0]), destination.port, "127.0.0.1", "BUFFERSIZE=65536\n") +
                           "[TCP-PORT1]\nACT=1\nPORT=-1\nFORWARDPORT=80x\nBUFFERSIZE=0\n" +
                           slotSection(2, 1, std::stoi(ports[1]), destination.port) +
                           slotSection(3, 1, 8080, 80, "", "BUFFERSIZE=65537\n") + "[OTHER]\nKEEP=me\n";
  writeFile(ini, file);
  auto child = start({"--headless"});
  // Seen in the log rather than probed, which would add connection lines.
  EXPECT_TRUE(waitUntil([&] { return child->err().find(" 起動 ") != std::string::npos || !child->running(); }));
  EXPECT_EQ(child->stop(), 0);
  EXPECT_EQ(readFile(ini), file) << "a refusal at launch changes nothing on disk";
  // Each slot's bad values follow its own log lines.
  const std::string problem = " 設定の問題 内容=\"";
  const std::string expected =
      kStamp + "TCP-PORT0 待ち受け開始 待受=0\\.0\\.0\\.0:" + ports[0] +
      " 転送先=127\\.0\\.0\\.1:" + std::to_string(destination.port) + " 注意=他のPCから接続可能・フィルタなし\n" +
      kStamp + "TCP-PORT1 ON拒否 理由=Listenポートが無効な設定です\n" + kStamp + "TCP-PORT1" + problem +
      "TCP-PORT1 の PORT=-1 は無効な値です \\(0～65535\\)\"\n" + kStamp + "TCP-PORT1" + problem +
      "TCP-PORT1 の FORWARDPORT=80x は無効な値です \\(0～65535\\)\"\n" + kStamp + "TCP-PORT1" + problem +
      "TCP-PORT1 の BUFFERSIZE=0 は無効な値です \\(1～65536\\)\"\n" + kStamp +
      "TCP-PORT2 待ち受け開始 待受=0\\.0\\.0\\.0:" + ports[1] + " .*\n" + kStamp + "TCP-PORT3" + problem +
      "TCP-PORT3 の BUFFERSIZE=65537 は無効な値です \\(1～65536\\)\"\n" + kStamp + "TCP-PORT3" + problem +
      "TCP-PORT3 は ACT=1 ですが FORWARDHOST が空です\"\n" + kStamp +
      "RelvaneTiv 起動 版=" RELVANE_PROJECT_VERSION " 設定=" + ini.string() + " スロット数=4 起動数=2\n" + kStamp +
      "TCP-PORT0 停止\n" + kStamp + "TCP-PORT2 停止\n";
  EXPECT_TRUE(std::regex_match(child->err(), std::regex(expected))) << child->err();
  EXPECT_EQ(child->out(), "");

  // Nothing can start, and the file cannot even take the new slot's section: all of it is
  // said on standard error, naming the file, and the run ends at once with 1.
  LoopbackListener taken;
  writeFile(ini, "[OTHER]\nKEEP=me\n");
  ::chmod(ini.c_str(), 0444);
  const std::string none = kStamp + "RelvaneTiv 起動拒否 設定=" + ini.string() +
                           " 内容=\"起動できたスロットがありません \\(ACT=1 で起動できるスロットが必要です\\)\"\n";
  auto unsaved = start({"--headless", "--quiet"});
  EXPECT_EQ(unsaved->waitExit(5s), 1);
  EXPECT_TRUE(std::regex_match(unsaved->err(), std::regex(kStamp + "RelvaneTiv 保存失敗 設定=" + ini.string() +
                                                          " 内容=\"設定を保存できませんでした: " + ini.string() +
                                                          " \\(Permission denied\\)。.*\"\n" + none)))
      << unsaved->err();
  ::chmod(ini.c_str(), 0644);
  writeSlot(1, taken.port);  // the port is busy for now: ACT stays for the next launch
  const std::string busy = readFile(ini);
  auto again = start({"--headless", "--quiet"});
  EXPECT_EQ(again->waitExit(5s), 1);
  EXPECT_TRUE(std::regex_match(
      again->err(), std::regex(kStamp + "TCP-PORT0 ON拒否 理由=\"Listenポート\\(" + std::to_string(taken.port) +
                               "\\)を開けませんでした \\(Address already in use\\)\"\n" + none)))
      << again->err();
  EXPECT_EQ(readFile(ini), busy);
}

// The log as a shipper and the journal take it: LOGFORMAT=json in [GLOBAL] gives one JSON object
// per line, each with the journal's priority in front while standard error is the journal's
// stream; --log-format text on the command line wins over the file, and another stream gets
// no priority.
TEST_F(ProgramRun, TheFileAsksForJsonOnTheJournalAndTheCommandLineForText) {
  const int port = freePort();
  writeSlot(1, port, "[GLOBAL]\nLOGFORMAT=json\n");
  const fs::path journal = temp / "journal";
  const int fd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  struct stat st {};
  ASSERT_TRUE(fd >= 0 && ::fstat(fd, &st) == 0);
  const std::string stream = "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  auto json = start({"--headless"}, {stream}, false, {}, {}, fd);
  ::close(fd);
  { ASSERT_GE(Relayed(port, destination, *json).server, 0) << readFile(journal); }
  EXPECT_TRUE(waitUntil([&] { return readFile(journal).find("connection_end") != std::string::npos; }));
  EXPECT_EQ(json->stop(), 0);
  const std::string got = readFile(journal);
  const std::regex line(R"re(<(\d)>\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d",)re"
                        R"re("level":"\w+","event":"(\w+)"[^\n]*\}\n)re");
  std::string events;
  for (std::sregex_iterator m(got.begin(), got.end(), line), end; m != end; ++m)
    events += (*m)[1].str() + (*m)[2].str() + " ";
  EXPECT_EQ(events, "5listening 5start 6connection_open 6connection_end 5stopped ") << got;

  auto text = start({"--headless", "--log-format", "text"}, {stream});
  EXPECT_TRUE(waitUntil([&] { return text->err().find(" 起動 ") != std::string::npos; }));
  EXPECT_EQ(text->stop(), 0);
  EXPECT_TRUE(std::regex_search(text->err(), std::regex("^" + kStamp + "TCP-PORT0 待ち受け開始 "))) << text->err();
}

TEST_F(ProgramRun, CommandLineAnswersWithoutADisplayAWindowedStartWithoutOneSaysSoAndTheConfigFolderServes) {
  const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const std::string line =
      "ディスプレイが見つかりません。ウィンドウなしでスロットを動かすには --headless "
      "を付けて起動してください\n";
  const std::string version = "RelvaneTiv " RELVANE_PROJECT_VERSION
                              "\nライセンス: GNU GPL バージョン 3 以降 (GPL-3.0-or-later)";
  const struct {
    std::vector<std::string> args, environment;
    int code;
    std::string out, err;  // a part of each; "" for an empty stream
  } cases[] = {
      {{"--help"}, noDisplay, 0, "--config PATH", ""},
      {{"--version", "-D583"}, noDisplay, 0, version, ""},
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
