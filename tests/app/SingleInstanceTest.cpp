// The single-instance lock: taken once per user, held while the holder lives, free after.
// (A holder that is killed is covered by the end-to-end run of the program.)
#include <gtest/gtest.h>

#include <cstdlib>
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

TEST_F(SingleInstance, UnusableDirectoryIsAFailureNotARefusal) {
  ::setenv("XDG_RUNTIME_DIR", (runtime.path() / "missing").c_str(), 1);
  CSingleInstance lock;
  EXPECT_EQ(lock.acquire(), CSingleInstance::Failed);
}
