// The single-instance lock: taken once per user, held while the holder lives, free after.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"
#include "app/SingleInstance.h"

namespace {

class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved = old;
    hadOld = old != nullptr;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadOld)
      ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }
  testsupport::TempDir runtime;
  std::string saved;
  bool hadOld = false;
};

// A child that takes the lock, tells the parent through a pipe, and waits to be ended.
pid_t holdLockInChild() {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    CSingleInstance lock;
    char answer = lock.acquire() == CSingleInstance::Acquired ? 'y' : 'n';
    (void)!::write(ready[1], &answer, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char answer = 0;
  bool held = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
  ::close(ready[0]);
  return held ? pid : -1;
}

}  // namespace

TEST_F(SingleInstance, LockFileIsNamedAfterTheInstanceInTheRuntimeDirectory) {
  EXPECT_EQ(CSingleInstance::instanceName(), "__BRAMBLECOTE__RELVANETIV");
  EXPECT_EQ(CSingleInstance::lockPath(),
            runtime.path().string() + "/__BRAMBLECOTE__RELVANETIV.lock");
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string fallback = CSingleInstance::lockPath();
  EXPECT_NE(fallback.find("__BRAMBLECOTE__RELVANETIV"), std::string::npos);
  EXPECT_NE(fallback.find("." + std::to_string(::getuid())), std::string::npos);
}

TEST_F(SingleInstance, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  {
    CSingleInstance first;
    ASSERT_EQ(first.acquire(), CSingleInstance::Acquired);
    EXPECT_EQ(first.acquire(), CSingleInstance::Acquired);  // asking again changes nothing
    CSingleInstance second;
    EXPECT_EQ(second.acquire(), CSingleInstance::AlreadyRunning);
  }
  CSingleInstance after;
  EXPECT_EQ(after.acquire(), CSingleInstance::Acquired);
}

TEST_F(SingleInstance, LockOfAKilledProcessIsReleased) {
  pid_t holder = holdLockInChild();
  ASSERT_GT(holder, 0);
  {
    CSingleInstance refused;
    EXPECT_EQ(refused.acquire(), CSingleInstance::AlreadyRunning);
  }
  ::kill(holder, SIGKILL);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  CSingleInstance next;
  EXPECT_EQ(next.acquire(), CSingleInstance::Acquired);
}

TEST_F(SingleInstance, UnusableDirectoryIsAFailureNotARefusal) {
  ::setenv("XDG_RUNTIME_DIR", (runtime.path() / "missing").c_str(), 1);
  CSingleInstance lock;
  EXPECT_EQ(lock.acquire(), CSingleInstance::Failed);
}
