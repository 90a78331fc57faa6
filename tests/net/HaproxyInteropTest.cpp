// The PROXY header against another implementation of it: haproxy (a Debian package) with
// accept-proxy as our destination logs the client our v1 and v2 headers name, and our
// ACCEPTPROXY slot behind haproxy's send-proxy-v2 sees the real client. Skipped without haproxy.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include "NetHarness.h"
#include "TempDir.h"

using namespace nettest;

namespace {

// haproxy in the foreground, its log (on standard output) in `log`, stopped with the object.
struct Haproxy {
  pid_t pid = ::fork();
  Haproxy(const char* path, const std::string& config, const std::string& log) {
    if (pid != 0) return;
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1), ::dup2(fd, 2);
    ::execl(path, path, "-db", "-f", config.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ~Haproxy() { ::kill(pid, SIGTERM), ::waitpid(pid, nullptr, 0); }
};

}  // namespace

TEST(HaproxyInterop, ReadsOurHeadersAndSendsUsTheRealClient) {
  const char* path = "/usr/sbin/haproxy";
  if (::access(path, X_OK) != 0) GTEST_SKIP() << "haproxy is not installed (Debian package haproxy)";
  TempDir dir;
  const std::string config = (dir / "haproxy.cfg").string(), log = (dir / "log").string();
  Relay front, behind;  // ours: in front of haproxy, and behind it
  const int fromUs = freePort(), toUs = freePort();
  auto listen = [](int port) { return "  bind 127.0.0.1:" + std::to_string(port); };
  auto server = [](int port) { return "  server s 127.0.0.1:" + std::to_string(port); };
  writeFile(config,
            "global\n  log stdout format raw local0\ndefaults\n  mode tcp\n  log global\n"
            "  log-format \"client=%ci:%cp\"\n  timeout connect 5s\n  timeout client 9s\n  timeout server 9s\n"
            "frontend a\n" +
                listen(fromUs) + " accept-proxy\n  default_backend a\nbackend a\n" + server(front.dest.port) +
                "\nfrontend b\n" + listen(toUs) + "\n  default_backend b\nbackend b\n" + server(behind.port) +
                " send-proxy-v2\n");
  Haproxy haproxy(path, config, log);
  int up = -1;  // only the frontend that waits for a header is tried: nothing goes further
  for (int tries = 0; up < 0 && tries < 50; ++tries) (up = connectLoopback(fromUs, 200ms)) < 0 && usleep(100000);
  ASSERT_GE(up, 0) << readFile(log);
  closeFd(up);

  front.repeater.retarget("127.0.0.1", fromUs);
  net::RelayOptions options;
  for (int version : {1, 2}) {
    options.sendProxy = version;
    front.repeater.setOptions(options);
    int client = connectLoopback(front.port, 5s, "127.0.0.1", "127.0.0.3"), dest = -1;
    const std::string line = "client=127.0.0.3:" + std::to_string(portOf(client)) + "\n";
    EXPECT_TRUE(runWithPeer([&] { dest = front.dest.acceptOne(5s), closeFd(client), closeFd(dest); }));
    EXPECT_TRUE(waitFor([&] { return readFile(log).find(line) != std::string::npos; })) << version << readFile(log);
  }

  options = {};
  options.acceptProxy = true;
  behind.repeater.setOptions(options);
  int client = connectLoopback(toUs, 5s, "127.0.0.1", "127.0.0.3"), dest = -1;
  std::string got;
  EXPECT_TRUE(
      runWithPeer([&] { sendAll(client, "hello"), dest = behind.dest.acceptOne(5s), got = recvExact(dest, 5); }));
  const CTcpStreamPair* pair = behind.pairOf(client);  // found by the port the header carried
  ASSERT_TRUE(got == "hello" && pair);
  EXPECT_EQ(pair->acceptStream->peerAddress, "127.0.0.3");
  closeFd(client), closeFd(dest);
}
