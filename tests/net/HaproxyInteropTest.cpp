// The PROXY header against another implementation of it: haproxy (a Debian package) with
// accept-proxy as our destination logs the client our v1 and v2 headers name, and our
// ACCEPTPROXY slot behind haproxy's send-proxy-v2 sees the real client. Skipped without haproxy.
#include <signal.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <filesystem>

#include "NetHarness.h"
#include "TempDir.h"

using namespace nettest;

namespace {

std::string haproxyPath() {
  for (const char* p : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"})
    if (::access(p, X_OK) == 0) return p;
  return {};
}

// haproxy in the foreground, its log on standard output into `log`; stopped with the object.
struct Haproxy {
  pid_t pid = -1;
  Haproxy(const std::string& path, const std::filesystem::path& config, const std::filesystem::path& log) {
    pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 1), ::dup2(fd, 2);
      ::execl(path.c_str(), path.c_str(), "-db", "-f", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Haproxy() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
};

bool answers(int port) {
  for (int i = 0; i < 50; ++i) {
    int fd = connectLoopback(port, 200ms);
    if (fd >= 0) return closeFd(fd), true;
    ::usleep(100000);
  }
  return false;
}

}  // namespace

TEST(HaproxyInterop, ReadsOurHeadersAndSendsUsTheRealClient) {
  const std::string path = haproxyPath();
  if (path.empty()) GTEST_SKIP() << "haproxy is not installed (Debian package haproxy)";
  TempDir dir;
  LoopbackListener dest;
  Relay toHaproxy, behindHaproxy;  // ours: in front of haproxy, and behind it
  const int fromRelay = freePort(), toRelay = freePort();
  writeFile(dir / "haproxy.cfg",
            "global\n  log stdout format raw local0\ndefaults\n  mode tcp\n  log global\n"
            "  log-format \"client=%ci:%cp\"\n  timeout connect 5s\n  timeout client 10s\n  timeout server 10s\n"
            "frontend fromRelay\n  bind 127.0.0.1:" +
                std::to_string(fromRelay) +
                " accept-proxy\n  default_backend dest\n"
                "backend dest\n  server d 127.0.0.1:" +
                std::to_string(dest.port) +
                "\n"
                "frontend toRelay\n  bind 127.0.0.1:" +
                std::to_string(toRelay) +
                "\n  default_backend relay\n"
                "backend relay\n  server r 127.0.0.1:" +
                std::to_string(behindHaproxy.port) + " send-proxy-v2\n");
  Haproxy haproxy(path, dir / "haproxy.cfg", dir / "log");
  // Only the frontend that waits for a header is tried: nothing of the try reaches a destination.
  ASSERT_TRUE(answers(fromRelay)) << readFile(dir / "log");

  toHaproxy.repeater.retarget("127.0.0.1", fromRelay);
  net::RelayOptions options;
  for (int version : {1, 2}) {
    options.sendProxy = version;
    toHaproxy.repeater.setOptions(options);
    int client = connectLoopback(toHaproxy.port, 5s, "127.0.0.1", "127.0.0.3");
    const std::string line = "client=127.0.0.3:" + std::to_string(portOf(client)) + "\n";
    std::string got;
    EXPECT_TRUE(runWithPeer([&] {
      const int fd = dest.acceptOne(5s);
      sendAll(client, "hello"), got = recvExact(fd, 5, 5s);
      int copy = fd;
      closeFd(client), closeFd(copy);
    }));
    EXPECT_EQ(got, "hello") << version;
    EXPECT_TRUE(waitFor([&] { return readFile(dir / "log").find(line) != std::string::npos; }, 5s))
        << version << " " << readFile(dir / "log");
    std::filesystem::resize_file(dir / "log", 0);
  }

  options = {};
  options.acceptProxy = true;
  behindHaproxy.repeater.setOptions(options);
  int client = connectLoopback(toRelay, 5s, "127.0.0.1", "127.0.0.3"), fd = -1;
  const int clientPort = portOf(client);
  std::string got;
  EXPECT_TRUE(runWithPeer(
      [&] { sendAll(client, "hello"), fd = behindHaproxy.dest.acceptOne(5s), got = recvExact(fd, 5, 5s); }));
  EXPECT_EQ(got, "hello");
  int position = 0;
  const CTcpStreamPair* pair = behindHaproxy.repeater.getNextPair(position);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->acceptStream->peerAddress, "127.0.0.3");
  EXPECT_EQ(pair->acceptStream->peerPort, clientPort);
  closeFd(client), closeFd(fd);
}
