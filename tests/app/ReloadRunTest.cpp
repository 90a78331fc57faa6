// The headless program reloading its settings file on SIGHUP while it relays: live pairs carry
// on byte for byte, a moved listener and a new slot serve, a removed slot's pair finishes, a
// broken file changes nothing; the service manager hears each step on its own NOTIFY_SOCKET.
// And --check on good and bad files, beside a running program, writing nothing.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "ProgramRunFixture.h"

namespace fs = std::filesystem;
using namespace testsupport;
using namespace programrun;

namespace {

// The manager's end of NOTIFY_SOCKET: a datagram socket bound to a path in the test's folder.
struct NotifyListener {
  explicit NotifyListener(const fs::path& where) : path(where) {
    sockaddr_un address{AF_UNIX, {}};
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    const timeval wait{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~NotifyListener() { ::close(fd); }
  // The messages, each followed by '|', up to the first that holds `wanted` (or 10 s).
  std::string until(const std::string& wanted) {
    std::string seen;
    char buffer[512];
    for (int tries = 0; tries < 50 && seen.find(wanted) == std::string::npos; ++tries)
      if (const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0); n > 0) seen.append(buffer, n) += '|';
    return seen;
  }
  fs::path path;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// True when a line sent each way through the pair comes out whole on the other side.
bool roundTrip(const Relayed& pair, const std::string& line) {
  return sendAll(pair.client, line) && recvExact(pair.server, line.size()) == line &&
         sendAll(pair.server, line + "!") && recvExact(pair.client, line.size() + 1) == line + "!";
}

}  // namespace

TEST_F(ProgramRun, ReloadKeepsLivePairsMovesAChangedListenerStartsANewSlotAndLetsARemovedOneFinish) {
  LoopbackListener other;  // the changed slot's new destination
  const int p0 = freePort(), p1 = freePort(), p2 = freePort(), p1moved = freePort(), p3 = freePort();
  writeFile(ini, slotSection(0, 1, p0, destination.port) + slotSection(1, 1, p1, destination.port) +
                     slotSection(2, 1, p2, destination.port));
  NotifyListener manager(temp / "notify");
  auto child = start({"--headless", "--config", ini.string()}, {"NOTIFY_SOCKET=" + manager.path.string()});
  ASSERT_NE(manager.until("READY=1").find("READY=1"), std::string::npos) << child->err();
  EXPECT_NE(manager.until("STATUS=").find("待ち受け中のスロット=3 接続中=0"), std::string::npos);
  Relayed pair0(p0, destination, *child), pair2(p2, destination, *child);
  ASSERT_TRUE(pair0.server >= 0 && pair2.server >= 0) << child->err();

  // Slot 0 sends its new clients elsewhere, slot 1 moves its port, slot 2 stays, slot 3 is new.
  const std::string edited = slotSection(0, 1, p0, other.port) + slotSection(1, 1, p1moved, destination.port) +
                             slotSection(2, 1, p2, destination.port) + slotSection(3, 1, p3, destination.port);
  writeFile(ini, edited);
  child->signal(SIGHUP);
  const std::string reloading = manager.until("READY=1");
  EXPECT_NE(reloading.find("RELOADING=1\nMONOTONIC_USEC="), std::string::npos) << reloading;
  const std::string line = "設定再読込 維持=2 変更=0,1 追加=3 削除=- OFF=- ON拒否=-";
  EXPECT_TRUE(waitUntil([&] { return child->err().find(line) != std::string::npos; })) << child->err();
  EXPECT_TRUE(roundTrip(pair0, "old destination") && roundTrip(pair2, "untouched"));
  EXPECT_FALSE(accepting(p1));
  Relayed moved(p1moved, destination, *child), added(p3, destination, *child), retargeted(p0, other, *child);
  EXPECT_TRUE(moved.server >= 0 && added.server >= 0 && retargeted.server >= 0) << child->err();

  // Slots 2 and 3 go: slot 2's pair relays on until its client ends it.
  writeFile(ini, slotSection(0, 1, p0, other.port) + slotSection(1, 1, p1moved, destination.port));
  child->signal(SIGHUP);
  EXPECT_TRUE(waitUntil([&] { return !accepting(p2) && !accepting(p3); })) << child->err();
  EXPECT_TRUE(roundTrip(pair2, "removed, still relaying"));
  closeFd(pair2.client);
  EXPECT_TRUE(waitPeerClosed(pair2.server));

  // A bad value: nothing changes, and the log says why.
  const std::string broken = slotSection(0, 1, p0, other.port) + "[TCP-PORT1]\nACT=1\nPORT=12ab\n";
  writeFile(ini, broken);
  child->signal(SIGHUP);
  const std::string why = "設定再読込なし 理由=\"TCP-PORT1 の PORT=12ab は無効な値です";
  EXPECT_TRUE(waitUntil([&] { return child->err().find(why) != std::string::npos; })) << child->err();
  EXPECT_TRUE(accepting(p1moved) && roundTrip(pair0, "after the refusal"));

  EXPECT_EQ(child->stop(), 0);
  EXPECT_NE(manager.until("STOPPING=1").find("STOPPING=1"), std::string::npos);
  EXPECT_TRUE(waitPeerClosed(pair0.client));
  EXPECT_EQ(readFile(ini), broken) << "a reload only reads";
}

// --check reads what a start would read and opens nothing, without a display and even beside
// the program running on that file; a file or folder that is not there is not made.
TEST_F(ProgramRun, CheckNamesEachProblemAndWhatWouldStartWithoutOpeningOrWritingAnything) {
  const int port = freePort();
  writeFile(ini, slotSection(0, 1, port, destination.port) + slotSection(1, 0, 0, 0));
  auto running = start({"--headless", "--config", ini.string()});
  ASSERT_TRUE(running->listening(port)) << running->err();
  const std::string good = readFile(ini);
  auto check = start({"--check", "--config", ini.string()}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(check->waitExit(), 0) << check->out() << check->err();
  EXPECT_NE(check->out().find("TCP-PORT0 起動 待受=*:" + std::to_string(port)), std::string::npos) << check->out();
  EXPECT_NE(check->out().find("TCP-PORT1 OFFのまま"), std::string::npos);
  EXPECT_EQ(readFile(ini), good);
  EXPECT_EQ(running->stop(), 0);

  const fs::path bad = elsewhere / "bad.ini";
  writeFile(bad, slotSection(0, 1, port, 0) + "[TCP-PORT1]\nACT=1\nPORT=80\nFORWARDPORT=99999\n[TCP-PORT3]\n");
  auto refused = start({"--check", "--config", bad.string()});
  EXPECT_EQ(refused->waitExit(), 1);
  for (const char* named : {"TCP-PORT3 は使われていません", "TCP-PORT1 の FORWARDPORT=99999 は無効な値です",
                            "TCP-PORT0 ON拒否 理由=転送先ポート番号が無効な設定です"})
    EXPECT_NE(refused->out().find(named), std::string::npos) << named << "\n" << refused->out();
  EXPECT_FALSE(accepting(port));

  const fs::path missing = temp / "nowhere" / "RelvaneTiv.ini";
  auto none = start({"--check", "--config", missing.string()});
  EXPECT_EQ(none->waitExit(), 1);
  EXPECT_NE(none->out().find("がありません"), std::string::npos) << none->out();
  EXPECT_FALSE(fs::exists(missing.parent_path()));
}
