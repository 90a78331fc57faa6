// The control socket of a run: every request answered from the slot set as it is, the socket
// file's life, and stalled clients of both servers while the slot goes on relaying.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "ServiceFixture.h"
#include "service/ControlClient.h"

using namespace servicetest;
using service::ControlAnswer;

namespace {

using ControlTest = ServiceFixture;

// A local socket at `path`: connected (having sent `bytes`), or only bound as a crashed
// program leaves it; -1 when that fails.
int localSocket(const std::string& path, const std::string& bytes, bool connected = true) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto* a = reinterpret_cast<sockaddr*>(&address);
  if ((connected ? ::connect(fd, a, sizeof address) : ::bind(fd, a, sizeof address)) != 0 || !sendAll(fd, bytes))
    closeFd(fd);
  return fd;
}

}  // namespace

// Three connections relayed and ended, a fourth still open: the counts and the row are the
// relay's own, and on/off switch as a user would (a refusal comes back as the answer).
TEST_F(ControlTest, AnswersEveryRequestFromTheSlotsAsTheyAre) {
  for (int i = 0; i < 3; ++i) {
    Pair pair = relayOnce(100 + i, 1000);
    close(pair);
  }
  Pair live = relayOnce(7, 9);
  const auto ask = [&](const std::string& request) {
    return beside<ControlAnswer>([&] { return service::askControl(socket, request, 5s); });
  };
  const ControlAnswer status = ask("status");
  ASSERT_TRUE(status.ok) << status.reason;
  ASSERT_EQ(status.lines.size(), 3u);
  const std::map<std::string, std::string> expected{
      {"slot", "0"},        {"state", "on"}, {"listen", "0.0.0.0:" + std::to_string(port)},
      {"connections", "1"}, {"served", "4"}, {"destination", "127.0.0.1:" + std::to_string(destination.port)},
      {"refused", "0"},     {"failed", "0"}, {"received", std::to_string(100 + 101 + 102 + 7)},
      {"sent", "3009"}};
  EXPECT_EQ(fields(status.lines[0]), expected);
  EXPECT_EQ(fields(status.lines[1])["state"], "off");

  const ControlAnswer rows = ask("connections 0");
  ASSERT_EQ(rows.lines.size(), 1u);
  auto row = fields(rows.lines[0]);
  EXPECT_EQ(row["client"], "127.0.0.1:" + std::to_string(portOf(live.client)));
  EXPECT_EQ(row["outgoing"], "127.0.0.1:" + std::to_string(portOf(live.server, true)));
  EXPECT_EQ(row["received"] + "/" + row["sent"], "7/9");
  EXPECT_TRUE(ask("connections 1").ok && ask("connections 1").lines.empty());

  EXPECT_EQ(fields(ask("on 1").lines.at(0))["state"], "on");
  EXPECT_TRUE(slots[1].started());
  EXPECT_TRUE(ask("off 1").ok && !slots[1].started());
  EXPECT_NE(readFile(ini).find("[TCP-PORT1]\nACT=0"), std::string::npos) << "saved as a click saves it";
  const std::pair<std::string, std::string> refused[] = {
      {"on 2", CPortSlot::kListenPortInvalid},
      {"connections 3", "スロット 3 はありません (スロット数 3)"},
      {"off -1", "使い方: off N"},
      {"status now", "不明な要求です: status"},
      {"reload", "この実行では設定を読み直せません"},
  };
  for (const auto& [request, reason] : refused) {
    const ControlAnswer answer = ask(request);
    EXPECT_EQ(std::make_pair(answer.ok, answer.reason), std::make_pair(false, reason)) << request;
  }
  EXPECT_TRUE(roundTrip(live)) << "the live pair was never touched";
  close(live);
}

// Clients that connect and say nothing, send half a request, or ask and never read, to either
// server: a pair relaying meanwhile is not held up, and each is closed once its time is up; one
// that sends more than a request may hold is answered so.
TEST_F(ControlTest, StalledClientsOfBothServersNeitherDelayTheRelayNorStay) {
  Pair pair = relayOnce(1, 1);
  int stalled[] = {localSocket(socket, ""),      localSocket(socket, "stat"),  localSocket(socket, "status\n"),
                   connectLoopback(metricsPort), connectLoopback(metricsPort), connectLoopback(metricsPort)};
  ASSERT_TRUE(sendAll(stalled[4], "GET /metrics HTTP/1.1\r\nHost:") &&
              sendAll(stalled[5], "GET /metrics HTTP/1.1\n\n"));
  ASSERT_TRUE(waitUntil([&] { return control.clients() == 3 && metrics.clients() == 3; }));
  int crowd[service::MetricsServer::kMaxClients];  // with the three: three too many, closed as they come
  for (int& fd : crowd) fd = connectLoopback(metricsPort);
  EXPECT_TRUE(waitUntil([&] { return readableWithin(crowd[15], 0ms); }, 2s) && recvUntilEof(crowd[15], 1s).empty());
  EXPECT_EQ(metrics.clients(), static_cast<int>(service::MetricsServer::kMaxClients));
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(roundTrip(pair)) << "round trip " << i;
  for (int& fd : crowd) closeFd(fd);
  EXPECT_TRUE(waitUntil([&] { return control.clients() + metrics.clients() == 0; }, 7s));
  const std::string answers[] = {"", "", "OK\n", "", "", "HTTP/1.1 200"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(recvUntilEof(stalled[i], 1s).substr(0, answers[i].size()), answers[i]) << i;
  for (int& fd : stalled) closeFd(fd);
  int flood = localSocket(socket, std::string(service::ControlServer::kMaxRequestBytes + 1, 's'));
  EXPECT_EQ(beside<std::string>([&] { return recvUntilEof(flood, 8s); }), "ERR request too long\n\n");
  closeFd(flood), close(pair);
}

// A file left by a program that crashed is replaced, a live program's socket or another file is
// left alone, and the file goes with its server, but not once something else stands in its place.
TEST_F(ControlTest, ReplacesOnlyADeadSocketFileAndRemovesOnlyItsOwn) {
  struct stat st {};
  ASSERT_EQ(::lstat(socket.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string dead = (dir / "dead.sock").string(), plain = (dir / "plain").string();
  int remains = localSocket(dead, "", false);
  closeFd(remains);
  writeFile(plain, "x");
  {
    service::ControlServer again(slots, {}), second(slots, {}), onFile(slots, {});
    EXPECT_EQ(again.open(dead), "");
    EXPECT_EQ(second.open(socket), socket + ": already in use");
    EXPECT_EQ(onFile.open(plain), plain + ": already in use");
    ASSERT_EQ(::unlink(dead.c_str()), 0);
    writeFile(dead, "someone else's");
  }
  EXPECT_EQ(readFile(dead) + readFile(plain), "someone else'sx");
  EXPECT_TRUE(beside<ControlAnswer>([&] { return service::askControl(socket, "status"); }).ok);
}
