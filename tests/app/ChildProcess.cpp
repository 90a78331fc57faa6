#include "ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>

extern char** environ;

namespace apptest {

ChildProcess::ChildProcess(const std::filesystem::path& program, std::vector<std::string> argv,
                           const std::filesystem::path& workDir,
                           const std::filesystem::path& outputDir, bool stdinAndStdoutClosed,
                           const std::vector<std::string>& environment, int stderrFd)
    : outPath(outputDir / "stdout.txt"), errPath(outputDir / "stderr.txt") {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const std::string& change : environment) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(env, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
    if (change.find('=') != std::string::npos) env.push_back(change);
  }
  auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    return p.push_back(nullptr), p;
  };
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  if (stdinAndStdoutClosed) {
    posix_spawn_file_actions_addclose(&files, 0);
    posix_spawn_file_actions_addclose(&files, 1);
  } else {
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&files, stderrFd, 2);
  else posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addchdir_np(&files, workDir.c_str());
  const int rc = posix_spawn(&pid, program.c_str(), &files, nullptr, pointers(argv).data(), pointers(env).data());
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) throw std::runtime_error("spawn failed");
}

ChildProcess::~ChildProcess() {
  if (running()) ::kill(pid, SIGKILL);
  if (!reaped) ::waitpid(pid, nullptr, 0);
}

bool ChildProcess::running() {
  if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) reaped = true;
  return !reaped;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout) {
  if (!waitUntil([&] { return !running(); }, timeout) || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

Relayed::Relayed(int port, const testsupport::LoopbackListener& destination, ChildProcess& child) {
  using namespace testsupport;
  // The first connection that gets through is the one relayed.
  waitUntil([&] { return (client = connectLoopback(port, 200ms)) >= 0 || !child.running(); });
  if (client >= 0) server = destination.acceptOne();
  const std::string line = "through the slot";
  if (server < 0 || !sendAll(client, line) || recvExact(server, line.size()) != line) closeFd(client), closeFd(server);
}

}  // namespace apptest
