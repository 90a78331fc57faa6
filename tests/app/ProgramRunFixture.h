#pragma once
// The built program run as a user or a service runs it, for the tests that start it: a copy of
// it in a folder of its own with the settings file beside it, started from another directory
// with its standard streams in files, killed and reaped if a test leaves it running.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"

namespace programrun {

namespace fs = std::filesystem;
using namespace testsupport;

// True when something on 127.0.0.1:port accepts a connection.
inline bool accepting(int port) {
  int fd = connectLoopback(port, 200ms);
  const bool connected = fd >= 0;
  return closeFd(fd), connected;
}

// A started program, killed and reaped if still running at the end, with standard output and
// error in files in `output` (unless they went elsewhere).
class ChildProcess {
public:
  ChildProcess(int child, const fs::path& output)
      : pid(child), outPath(output / "stdout.txt"), errPath(output / "stderr.txt") {}
  ~ChildProcess() {  // a child still running is killed and reaped
    if (running()) ::kill(pid, SIGKILL);
    if (!reaped) ::waitpid(pid, nullptr, 0);
  }

  void signal(int signo) const {
    if (!reaped) ::kill(pid, signo);
  }
  bool running() {
    if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    return !reaped;
  }
  // The exit code; -1 when it did not end in time or ended by a signal.
  int waitExit(std::chrono::milliseconds timeout = 10s) {
    return waitUntil([&] { return !running(); }, timeout) && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Signals it and waits for the exit code.
  int stop(int signo = SIGTERM) { return signal(signo), waitExit(); }
  // True once something accepts on `port`, as long as the program runs.
  bool listening(int port) {
    return waitUntil([&] { return accepting(port) || !running(); }) && running();
  }
  std::string out() const { return readFile(outPath); }
  std::string err() const { return readFile(errPath); }

private:
  int pid = -1;
  bool reaped = false;
  int status = 0;
  fs::path outPath, errPath;
};

// A client of the slot on `port` and the destination's end of its connection, once a line has
// gone through; both -1 when nothing got through while `child` ran. Both are closed at the end.
struct Relayed {
  Relayed(int port, const LoopbackListener& destination, ChildProcess& child) {
    // The first connection that gets through is the one relayed.
    waitUntil([&] { return (client = connectLoopback(port, 200ms)) >= 0 || !child.running(); });
    if (client >= 0) server = destination.acceptOne();
    const std::string line = "through the slot";
    if (server < 0 || !sendAll(client, line) || recvExact(server, line.size()) != line)
      closeFd(client), closeFd(server);
  }
  ~Relayed() { closeFd(client), closeFd(server); }
  int client = -1, server = -1;
};

constexpr bool kWindowed = RELVANE_WINDOWED;  // built with Qt

class ProgramRun : public ::testing::Test {
protected:
  void SetUp() override {
    for (const fs::path& dir : {bin, runtime, elsewhere, temp / "home"}) fs::create_directories(dir);
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

  // Started from another directory, by default as `program` with its full path as argument 0, with
  // our environment and `environment`'s "NAME=value" put over it ("NAME" alone removes one); input
  // and output closed when `closedStreams`, as some launchers leave them.
  std::unique_ptr<ChildProcess> start(std::vector<std::string> args, const std::vector<std::string>& environment = {},
                                      bool closedStreams = false, const fs::path& path = {},
                                      const std::string& argv0 = {}, int stderrFd = -1) {
    args.insert(args.begin(), argv0.empty() ? program.string() : argv0);
    const fs::path output = temp / ("out" + std::to_string(++started));
    fs::create_directories(output);
    const int pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid > 0) return std::make_unique<ChildProcess>(pid, output);
    for (const std::string& change : environment) {  // only the child's own copy changes
      const auto eq = change.find('=');
      eq == std::string::npos ? ::unsetenv(change.c_str()) : ::setenv(change.substr(0, eq).c_str(), &change[eq + 1], 1);
    }
    const auto to = [](int fd, const fs::path& f, int flags) {
      ::dup2(::open(f.c_str(), flags | O_CLOEXEC, 0600), fd);
    };
    const int out = O_WRONLY | O_CREAT | O_TRUNC;
    if (closedStreams) ::close(0), ::close(1);
    if (!closedStreams) to(0, "/dev/null", O_RDONLY), to(1, output / "stdout.txt", out);
    stderrFd >= 0 ? void(::dup2(stderrFd, 2)) : to(2, output / "stderr.txt", out);
    std::vector<char*> argp;
    for (auto& arg : args) argp.push_back(arg.data());
    argp.push_back(nullptr);
    if (::chdir(elsewhere.c_str()) == 0) ::execv((path.empty() ? program : path).c_str(), argp.data());
    ::_exit(127);
  }
  // As a service starts it: headless, with no runtime folder named and a home of its own.
  std::unique_ptr<ChildProcess> service(std::vector<std::string> args, int stderrFd = -1) {
    args.insert(args.begin(), "--headless");
    return start(args, {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME=" + (temp / "home").string()}, false, {}, {},
                 stderrFd);
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

}  // namespace programrun
