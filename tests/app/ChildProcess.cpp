#include "ChildProcess.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"

extern char** environ;

namespace apptest {

ChildProcess::ChildProcess(const std::filesystem::path& program, std::vector<std::string> argv,
                           const std::vector<std::string>& env,
                           const std::filesystem::path& workDir,
                           const std::filesystem::path& outputDir)
    : outPath(outputDir / "stdout.txt"), errPath(outputDir / "stderr.txt") {
  // Everything the child needs is prepared before fork: only async-signal-safe calls after.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  for (const auto& add : env) {
    std::string name = add.substr(0, add.find('=') + 1);
    std::erase_if(envStrings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    envStrings.push_back(add);
  }
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const std::string programText = program.string(), dirText = workDir.string();
  const std::string outText = outPath.string(), errText = errPath.string();

  pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = ::open(outText.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errText.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::chdir(dirText.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // The test runner may have set signals to be ignored; the program decides for itself.
    ::signal(SIGINT, SIG_DFL);
    ::execve(programText.c_str(), args.data(), envp.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (!reaped && pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

void ChildProcess::signal(int signo) const {
  if (!reaped) ::kill(pid, signo);
}

bool ChildProcess::waitExit(int& status, std::chrono::milliseconds timeout) {
  bool ended = waitFor([&] { return !running(); }, timeout);
  status = exitStatus;
  return ended;
}

bool ChildProcess::running() {
  if (reaped) return false;
  if (::waitpid(pid, &exitStatus, WNOHANG) == pid) reaped = true;
  return !reaped;
}

std::string ChildProcess::standardOutput() const { return testsupport::readFile(outPath); }
std::string ChildProcess::standardError() const { return testsupport::readFile(errPath); }

std::filesystem::path programPath() {
  return std::filesystem::path(RELVANE_BINARY_DIR) / "app" / "RelvaneTiv";
}

}  // namespace apptest
