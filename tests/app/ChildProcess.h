#pragma once
// The built program as a child process, a port probe and a connection relayed through a
// running program.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"

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
               const std::filesystem::path& workDir,
               const std::filesystem::path& outputDir, bool stdinAndStdoutClosed = false,
               const std::vector<std::string>& environment = {}, int stderrFd = -1);
  ~ChildProcess();  // a child still running is killed and reaped
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void signal(int signo) const { if (!reaped) ::kill(pid, signo); }
  bool running();
  // The exit code; -1 when it did not end in time or ended by a signal.
  int waitExit(std::chrono::milliseconds timeout = 10s);
  std::string out() const { return testsupport::readFile(outPath); }
  std::string err() const { return testsupport::readFile(errPath); }

 private:
  int pid = -1;
  bool reaped = false;
  int status = 0;
  std::filesystem::path outPath, errPath;
};

// A client of the slot on `port` and the destination's end of its connection, once a line has
// gone through; both -1 when nothing got through while `child` ran. Both are closed at the end.
struct Relayed {
  Relayed(int port, const testsupport::LoopbackListener& destination, ChildProcess& child);
  ~Relayed() { testsupport::closeFd(client), testsupport::closeFd(server); }
  Relayed(const Relayed&) = delete;
  Relayed& operator=(const Relayed&) = delete;
  int client = -1, server = -1;
};

}  // namespace apptest
