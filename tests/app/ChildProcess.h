#pragma once
// The built program as a child process, a port probe and a connection relayed through a
// running program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"

extern char** environ;

namespace apptest {

using namespace std::chrono_literals;
using testsupport::slotSection;
using testsupport::waitUntil;

// True when something on 127.0.0.1:port accepts a connection.
inline bool accepting(int port) {
  int fd = testsupport::connectLoopback(port, 200ms);
  const bool connected = fd >= 0;
  testsupport::closeFd(fd);
  return connected;
}

// Runs `program` with `argv` as given and our environment with `environment`'s "NAME=value"
// entries put over it ("NAME" alone removes one), standard output and error going to files
// in `outputDir` (or input and output closed, as some launchers leave them; or standard error
// on `stderrFd` when given).
class ChildProcess {
public:
  ChildProcess(const std::filesystem::path& program, std::vector<std::string> argv,
               const std::filesystem::path& workDir, const std::filesystem::path& outputDir,
               bool stdinAndStdoutClosed = false, const std::vector<std::string>& environment = {}, int stderrFd = -1)
      : outPath(outputDir / "stdout.txt"), errPath(outputDir / "stderr.txt") {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const std::string& change : environment) {
      const std::string name = change.substr(0, change.find('=')) + "=";
      std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
      if (change.find('=') != std::string::npos) env.push_back(change);
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (stdinAndStdoutClosed) {
      posix_spawn_file_actions_addclose(&files, 0), posix_spawn_file_actions_addclose(&files, 1);
    } else {
      posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_addopen(&files, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&files, stderrFd, 2);
    else
      posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&files, workDir.c_str());
    const int rc = posix_spawn(&pid, program.c_str(), &files, nullptr, pointers(argv).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) throw std::runtime_error("spawn failed");
  }
  ~ChildProcess() {  // a child still running is killed and reaped
    if (running()) ::kill(pid, SIGKILL);
    if (!reaped) ::waitpid(pid, nullptr, 0);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void signal(int signo) const {
    if (!reaped) ::kill(pid, signo);
  }
  bool running() {
    if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    return !reaped;
  }
  // The exit code; -1 when it did not end in time or ended by a signal.
  int waitExit(std::chrono::milliseconds timeout = 10s) {
    if (!waitUntil([&] { return !running(); }, timeout) || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  std::string out() const { return testsupport::readFile(outPath); }
  std::string err() const { return testsupport::readFile(errPath); }

private:
  static std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    return p.push_back(nullptr), p;
  }
  int pid = -1;
  bool reaped = false;
  int status = 0;
  std::filesystem::path outPath, errPath;
};

// A client of the slot on `port` and the destination's end of its connection, once a line has
// gone through; both -1 when nothing got through while `child` ran. Both are closed at the end.
struct Relayed {
  Relayed(int port, const testsupport::LoopbackListener& destination, ChildProcess& child) {
    using namespace testsupport;
    // The first connection that gets through is the one relayed.
    waitUntil([&] { return (client = connectLoopback(port, 200ms)) >= 0 || !child.running(); });
    if (client >= 0) server = destination.acceptOne();
    const std::string line = "through the slot";
    if (server < 0 || !sendAll(client, line) || recvExact(server, line.size()) != line)
      closeFd(client), closeFd(server);
  }
  ~Relayed() { testsupport::closeFd(client), testsupport::closeFd(server); }
  Relayed(const Relayed&) = delete;
  Relayed& operator=(const Relayed&) = delete;
  int client = -1, server = -1;
};

}  // namespace apptest
