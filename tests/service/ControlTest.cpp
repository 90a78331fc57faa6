// The control socket of a run: every request answered from the slot set as it is, the socket
// file's life (mode, a crashed program's file replaced, a live one never), and clients that
// stall while the slot goes on relaying.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "ServiceFixture.h"
#include "service/ControlClient.h"
#include "service/ControlServer.h"

using namespace servicetest;
using service::ControlAnswer;

namespace {

struct ControlTest : ServiceFixture {
  std::string path = (dir / "control.sock").string();
  service::ControlServer server{slots, switching()};
  service::ControlHooks switching() {
    service::ControlHooks hooks;
    hooks.switchSlot = [this](int n, bool on) { return slots[n].toggleSlot(on ? 1 : 0); };
    return hooks;
  }
  ControlAnswer ask(const std::string& request) {
    return beside<ControlAnswer>([&] { return service::askControl(path, request, 5s); });
  }
};

// A client connected to the socket at `path` that has sent `bytes`; -1 when it cannot connect.
int localClient(const std::string& path, const std::string& bytes) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || !sendAll(fd, bytes)) closeFd(fd);
  return fd;
}

}  // namespace

// Three connections relayed and ended, a fourth still open: the counts and the row are the
// relay's own, and on/off switch as a user would (a refusal comes back as the answer).
TEST_F(ControlTest, AnswersEveryRequestFromTheSlotsAsTheyAre) {
  ASSERT_EQ(server.open(path), "");
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (int i = 0; i < 3; ++i) {
    Pair pair = relayOnce(100 + i, 1000);
    close(pair);
  }
  Pair live = relayOnce(7, 9);

  const ControlAnswer status = ask("status");
  ASSERT_EQ(status.outcome, ControlAnswer::Outcome::Answered);
  ASSERT_TRUE(status.ok) << status.reason;
  ASSERT_EQ(status.lines.size(), 3u);
  const std::map<std::string, std::string> expected{{"slot", "0"},
                                                    {"state", "on"},
                                                    {"listen", "0.0.0.0:" + std::to_string(port)},
                                                    {"destination", "127.0.0.1:" + std::to_string(destination.port)},
                                                    {"connections", "1"},
                                                    {"served", "4"},
                                                    {"refused", "0"},
                                                    {"failed", "0"},
                                                    {"received", std::to_string(100 + 101 + 102 + 7)},
                                                    {"sent", std::to_string(3000 + 9)}};
  EXPECT_EQ(fields(status.lines[0]), expected);
  EXPECT_EQ(fields(status.lines[1])["state"], "off");
  EXPECT_EQ(fields(status.lines[2])["slot"], "2");

  const ControlAnswer rows = ask("connections 0");
  ASSERT_TRUE(rows.ok);
  ASSERT_EQ(rows.lines.size(), 1u);
  auto row = fields(rows.lines[0]);
  EXPECT_EQ(row["client"], "127.0.0.1:" + std::to_string(portOf(live.client)));
  EXPECT_EQ(row["local"], "127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(row["destination"], "127.0.0.1:" + std::to_string(destination.port));
  EXPECT_EQ(row["outgoing"], "127.0.0.1:" + std::to_string(portOf(live.server, true)));
  EXPECT_EQ(std::make_pair(row["received"], row["sent"]), std::make_pair(std::string("7"), std::string("9")));
  EXPECT_TRUE(ask("connections 1").ok && ask("connections 1").lines.empty());

  const ControlAnswer on = ask("on 1");
  ASSERT_TRUE(on.ok) << on.reason;
  EXPECT_EQ(fields(on.lines.at(0))["state"], "on");
  EXPECT_TRUE(slots[1].started());
  EXPECT_TRUE(ask("on 1").ok) << "already on: left as it is";
  EXPECT_TRUE(ask("off 1").ok);
  EXPECT_FALSE(slots[1].started());
  EXPECT_NE(readFile(ini).find("[TCP-PORT1]\nACT=0"), std::string::npos) << "saved as a click saves it";

  const struct {
    std::string request, reason;
  } refused[] = {
      {"on 2", CPortSlot::kListenPortInvalid},
      {"connections 3", "no slot 3 (3 slots)"},
      {"on", "usage: on N"},
      {"off -1", "usage: off N"},
      {"status now", "unknown request status"},
      {"", "empty request"},
      {"reload", "reload is not available in this run"},
  };
  for (const auto& r : refused) {
    const ControlAnswer answer = ask(r.request);
    EXPECT_EQ(std::make_tuple(answer.ok, answer.reason), std::make_tuple(false, r.reason)) << r.request;
  }
  EXPECT_TRUE(roundTrip(live)) << "the live pair was never touched";
  close(live);
}

// Clients that connect and say nothing, send half a line, or send a whole one and never read
// do not hold up a pair relaying meanwhile; each is closed once its time is up, and then so is
// one that sends more than a line may hold.
TEST_F(ControlTest, StalledClientsNeitherDelayTheRelayNorStay) {
  ASSERT_EQ(server.open(path), "");
  Pair pair = relayOnce(1, 1);
  int silent = localClient(path, ""), half = localClient(path, "stat"), deaf = localClient(path, "status\n");
  ASSERT_TRUE(silent >= 0 && half >= 0 && deaf >= 0);
  ASSERT_TRUE(waitUntil([&] { return server.clients() == 3; }));
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(roundTrip(pair)) << "round trip " << i;
  EXPECT_TRUE(waitUntil([&] { return server.clients() == 0; }, service::ControlServer::kDeadline + 2s));
  for (int fd : {silent, half}) EXPECT_EQ(recvUntilEof(fd, 1s), "") << "closed without an answer";
  EXPECT_EQ(recvUntilEof(deaf, 1s).substr(0, 3), "OK\n");
  int flood = localClient(path, std::string(service::ControlServer::kMaxRequestBytes + 100, 's'));
  EXPECT_EQ(beside<std::string>([&] { return recvUntilEof(flood, 8s); }), "ERR request too long\n\n");
  for (int* fd : {&silent, &half, &deaf, &flood}) closeFd(*fd);
  close(pair);
}

// A file left by a program that crashed is replaced; a live program's socket is left alone, and
// the file goes when its server does, but not once someone else's stands in its place.
TEST_F(ControlTest, ReplacesOnlyADeadSocketFileAndRemovesOnlyItsOwn) {
  {
    const int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);  // bound, never listening: a crash's remains
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(dead);
  }
  ASSERT_EQ(server.open(path), "");
  EXPECT_TRUE(ask("status").ok);
  {
    service::ControlServer second(slots, {});
    EXPECT_EQ(second.open(path), path + ": already in use");
  }
  EXPECT_TRUE(ask("status").ok) << "the refused second server left the first one's file";
  writeFile(dir / "plain", "x");
  service::ControlServer onFile(slots, {});
  EXPECT_NE(onFile.open((dir / "plain").string()), "");
  EXPECT_EQ(readFile(dir / "plain"), "x") << "not a socket: never removed";
  {
    service::ControlServer gone(slots, {});
    const std::string other = (dir / "other.sock").string();
    ASSERT_EQ(gone.open(other), "");
    ASSERT_EQ(::unlink(other.c_str()), 0);
    writeFile(other, "someone else's");
  }
  EXPECT_EQ(readFile(dir / "other.sock"), "someone else's");
  EXPECT_EQ(service::askControl((dir / "none.sock").string(), "status").outcome, ControlAnswer::Outcome::NotServed);
}
