#pragma once
// Runs the built program as a child process with its own environment, its standard output
// and error going to files, and waits for it within bounds.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace apptest {

using namespace std::chrono_literals;

class ChildProcess {
 public:
  // argv[0] is passed as given (it decides the program's directory); `program` is what runs.
  // `env` entries "NAME=value" are added to the test's own environment.
  ChildProcess(const std::filesystem::path& program, std::vector<std::string> argv,
               const std::vector<std::string>& env, const std::filesystem::path& workDir,
               const std::filesystem::path& outputDir);
  ~ChildProcess();  // a child still running is killed and reaped
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void signal(int signo) const;
  // The exit status (as waitpid gives it) once the child ended; false on timeout.
  bool waitExit(int& status, std::chrono::milliseconds timeout = 10s);
  bool running();
  std::string standardOutput() const;
  std::string standardError() const;

 private:
  int pid = -1;
  bool reaped = false;
  int exitStatus = 0;
  std::filesystem::path outPath, errPath;
};

// The built program, beside the test binaries.
std::filesystem::path programPath();

// Polls `done` every 10 ms until it holds or `timeout` passes; returns its last answer.
template <class F>
bool waitFor(F done, std::chrono::milliseconds timeout = 10s);

}  // namespace apptest

#include <thread>

template <class F>
bool apptest::waitFor(F done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(10ms);
  }
  return true;
}
