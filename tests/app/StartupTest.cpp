// Start-up pieces on their own: the debug switch, the program's directory, the signal rules.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <unistd.h>

#include "TempDir.h"
#include "app/SignalPipe.h"
#include "app/StartupArgs.h"
#include "app/WorkingDir.h"

TEST(DebugSwitch, MatchesOnlyTheWholeArgument) {
  EXPECT_TRUE(isDebugSwitch("-D583"));
  for (const char* other : {"-D58", "-D5830", "-D583 ", "-d583", "-D583x", "D583", "", "--D583"})
    EXPECT_FALSE(isDebugSwitch(other)) << other;
  EXPECT_FALSE(isDebugSwitch(nullptr));
}

TEST(DebugSwitch, AnyPositionAmongTheArgumentsTurnsItOn) {
  const char* withSwitch[] = {"prog", "--headless", "-D583", "x"};
  const char* lookAlikes[] = {"prog", "-D5831", "-d583", "-D58"};
  const char* switchAsProgram[] = {"-D583"};  // argument 0 is the program path, never read
  EXPECT_EQ(traceArguments(4, withSwitch), 1);
  EXPECT_EQ(traceArguments(4, lookAlikes), 0);
  EXPECT_EQ(traceArguments(1, switchAsProgram), 0);
  EXPECT_TRUE(hasArgument(4, withSwitch, "--headless"));
  EXPECT_FALSE(hasArgument(4, lookAlikes, "--headless"));
}

TEST(ProgramDirectory, IsTheTextBeforeTheLastSlash) {
  EXPECT_EQ(programDirectory("/opt/relvane/bin/RelvaneTiv"), "/opt/relvane/bin");
  EXPECT_EQ(programDirectory("./RelvaneTiv"), ".");
  EXPECT_EQ(programDirectory("a/b/"), "a/b");
  EXPECT_EQ(programDirectory("RelvaneTiv"), "");
  EXPECT_EQ(programDirectory("/RelvaneTiv"), "");
}

class WorkingDirectory : public ::testing::Test {
 protected:
  void SetUp() override { saved = std::filesystem::current_path(); }
  void TearDown() override { std::filesystem::current_path(saved); }
  std::filesystem::path saved;
  testsupport::TempDir temp;
};

TEST_F(WorkingDirectory, ChangesToTheProgramsDirectory) {
  std::filesystem::create_directory(temp / "bin");
  const std::string program = (temp / "bin" / "RelvaneTiv").string();
  EXPECT_EQ(enterProgramDirectory(program.c_str()), (temp / "bin").string());
  EXPECT_EQ(currentDir, (temp / "bin").string());
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), temp / "bin"));
}

TEST_F(WorkingDirectory, BareProgramNameLeavesItUnchanged) {
  std::filesystem::current_path(temp.path());
  EXPECT_EQ(enterProgramDirectory("RelvaneTiv"), "");
  EXPECT_EQ(currentDir, "");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), temp.path()));
}

TEST_F(WorkingDirectory, ProgramAtTheRootMovesToTheRoot) {
  std::filesystem::current_path(temp.path());
  enterProgramDirectory("/RelvaneTiv");
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path("/"));
}

TEST(SignalRules, TermAndHangUpAlwaysCloseInterruptDependsOnMode) {
  for (int debug : {0, 1})
    for (bool headless : {false, true}) {
      EXPECT_EQ(signalAction(SIGTERM, debug, headless), SignalAction::CloseInOrder);
      EXPECT_EQ(signalAction(SIGHUP, debug, headless), SignalAction::CloseInOrder);
    }
  EXPECT_EQ(signalAction(SIGINT, 1, false), SignalAction::Ignore);
  EXPECT_EQ(signalAction(SIGINT, 0, false), SignalAction::CloseInOrder);
  EXPECT_EQ(signalAction(SIGINT, 1, true), SignalAction::CloseInOrder);
  EXPECT_EQ(signalAction(SIGINT, 0, true), SignalAction::CloseInOrder);
  EXPECT_EQ(signalAction(SIGUSR1, 0, true), SignalAction::Ignore);
}

TEST(SignalPipe, CarriesSignalsToTheReaderInsteadOfEndingTheProcess) {
  ASSERT_TRUE(CSignalPipe::install());
  ASSERT_TRUE(CSignalPipe::install());  // a second install keeps the same pipe
  const int fd = CSignalPipe::readFd();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(CSignalPipe::drain().empty());
  ::raise(SIGHUP);
  ::raise(SIGTERM);
  EXPECT_EQ(CSignalPipe::drain(), (std::vector<int>{SIGHUP, SIGTERM}));
  EXPECT_EQ(CSignalPipe::readFd(), fd);
  // A burst that fills the pipe is neither fatal nor blocking; what fits is read back.
  for (int i = 0; i < 70000; ++i) ::raise(SIGINT);
  auto burst = CSignalPipe::drain();
  EXPECT_GT(burst.size(), 0u);
  EXPECT_EQ(burst.front(), SIGINT);
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
}
