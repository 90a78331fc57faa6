// Start-up pieces on their own: the debug switch, the program's directory and the signal pipe
// (the signal rules are shown by running the program).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "TempDir.h"
#include "app/SignalPipe.h"
#include "app/StartupArgs.h"
#include "app/WorkingDir.h"

namespace fs = std::filesystem;

TEST(DebugSwitch, MatchesOnlyTheWholeArgumentAfterTheProgramPath) {
  EXPECT_TRUE(isDebugSwitch("-D583"));
  for (const char* other : {"-D58", "-D5830", "-D583 ", "-d583", "-D583x", "D583", "", "--D583"})
    EXPECT_FALSE(isDebugSwitch(other)) << other;
  EXPECT_FALSE(isDebugSwitch(nullptr));
  const char* switchAsProgram[] = {"-D583", "-D5831"};  // argument 0 is never read
  EXPECT_EQ(traceArguments(2, switchAsProgram), 0);
}

TEST(WorkingDirectory, IsArgumentZeroUpToItsLastSlashAndUnchangedWithoutOne) {
  const fs::path saved = fs::current_path();
  testsupport::TempDir temp;
  fs::create_directory(temp / "bin");
  const std::pair<std::string, fs::path> cases[] = {
      {(temp / "bin" / "RelvaneTiv").string(), temp / "bin"},
      {"./bin/RelvaneTiv", temp / "bin"},
      {"RelvaneTiv", temp.path()},
      {"/RelvaneTiv", "/"},
  };
  for (const auto& [argv0, expected] : cases) {
    fs::current_path(temp.path());
    enterProgramDirectory(argv0.c_str());
    EXPECT_TRUE(fs::equivalent(fs::current_path(), expected)) << argv0;
  }
  fs::current_path(saved);
}

TEST(SignalPipe, CarriesSignalsToTheReaderAndSurvivesABurst) {
  ASSERT_TRUE(CSignalPipe::install());
  ::raise(SIGHUP);
  ::raise(SIGTERM);
  EXPECT_EQ(CSignalPipe::drain(), (std::vector<int>{SIGHUP, SIGTERM}));
  for (int i = 0; i < 70000; ++i) ::raise(SIGINT);  // fills the pipe: neither fatal nor blocking
  EXPECT_EQ(CSignalPipe::drain().at(0), SIGINT);  // what fits is read back
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::signal(signo, SIG_DFL);
}
