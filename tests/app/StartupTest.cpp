// Start-up pieces on their own: the command line, the settings file's place, the lock's place
// and the signal pipe (locking and the signal rules are shown by running the program).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"
#include "app/CommandLine.h"
#include "app/ControlRequest.h"
#include "app/SettingsPath.h"
#include "app/SignalPipe.h"
#include "app/SingleInstance.h"
#include "app/StartupArgs.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

// Each option doing its part is shown by the program runs; here the edges they do not reach.
TEST(CommandLineOptions, TheDebugSwitchExactlyAConfigValueTakenWholeAndWhatIsRefused) {
  auto parse = [](std::vector<const char*> args) {
    return args.insert(args.begin(), "RelvaneTiv"), parseCommandLine(static_cast<int>(args.size()), args.data());
  };
  EXPECT_TRUE(isDebugSwitch("-D583") && !isDebugSwitch(nullptr));
  for (const char* other : {"-D58", "-D5830", "-D583 ", "-d583", "-D583x", "D583", "", "--D583"})
    EXPECT_FALSE(isDebugSwitch(other)) << other;
  const char* switchAsProgram[] = {"-D583", "-D5831"};  // argument 0 is never read
  EXPECT_EQ(traceArguments(2, switchAsProgram), 0);
  EXPECT_EQ(parse({"--config", "--headless"}).configPath, "--headless") << "the value is taken whole";

  for (const char* refused : {"--verbose", "-D5830", "--headless=1", "--config", "--config=", "-platform", "stray"})
    EXPECT_FALSE(parse({refused}).error.empty()) << refused;
  EXPECT_EQ(usageText().find("D583"), std::string::npos) << "the debug switch stays hidden";

  // One request to the running program, with a slot number that names a slot.
  const CommandLine on = parse({"--config", "x.ini", "--on=29"});
  EXPECT_TRUE(on.error.empty() && on.control == "on" && on.controlSlot == 29) << on.error;
  EXPECT_EQ(parse({"--status"}).controlSlot, -1);
  // A fault's words run up to the next option and go out as one request line.
  const CommandLine fault = parse({"--fault", "3", "latency=200", "direction=down", "--config", "x.ini"});
  EXPECT_TRUE(fault.error.empty() && fault.configPath == "x.ini") << fault.error;
  EXPECT_EQ(controlRequestLine(fault), "fault 3 latency=200 direction=down");
  EXPECT_EQ(controlRequestLine(parse({"--fault=0"})), "fault 0");
  for (std::vector<const char*> refused : std::vector<std::vector<const char*>>{{"--on", "30"},
                                                                                {"--off", "-1"},
                                                                                {"--connections", "1x"},
                                                                                {"--status", "--reload"},
                                                                                {"--log-format", "xml"},
                                                                                {"--status", "--headless"},
                                                                                {"--check", "--off", "0"}})
    EXPECT_FALSE(parse(refused).error.empty()) << refused[0] << " " << refused[1];
}

// The program runs show the configuration folder, the file beside the executable, a relative
// --config and one lock per file; here the fallbacks they do not reach.
TEST(SettingsAndLockPlaces, TheConfigFolderWithoutAUsableSettingAndTheLockInAFolderOnlyTheUserCanWrite) {
  TempDir temp;  // this program's environment is its own: nothing to put back
  fs::create_directories(temp / "bin");
  SettingsPlace place{(temp / "bin").string(), (temp / "cwd").string(), "", (temp / "home").string()};
  EXPECT_EQ(settingsFilePath("", place), (temp / "home/.config/relvanetiv/RelvaneTiv.ini").string());
  place.configHome = "relative/ignored";
  EXPECT_EQ(settingsFilePath("", place), (temp / "home/.config/relvanetiv/RelvaneTiv.ini").string());
  EXPECT_EQ(settingsFilePath("/etc/x.ini", place), "/etc/x.ini");

  fs::create_directories(temp / "sub");
  fs::create_symlink(temp / "sub", temp / "link");
  ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
  const std::string a = (temp / "sub/a.ini").string();
  EXPECT_EQ(CSingleInstance::lockPath(a), CSingleInstance::lockPath((temp / "link/../sub/a.ini").string()));
  EXPECT_EQ(fs::path(CSingleInstance::lockPath(a)).parent_path(), temp.path());
  // A runtime folder others may write into is not used; the private cache folder is made.
  ::chmod(temp.path().c_str(), 0777);
  ::setenv("XDG_CACHE_HOME", (temp / "cache").c_str(), 1);
  const fs::path lock = CSingleInstance::lockPath(a);
  EXPECT_EQ(lock.parent_path(), temp / "cache/relvanetiv");
  EXPECT_EQ(fs::status(temp / "cache/relvanetiv").permissions(), fs::perms::owner_all);
}

// Each signal reaching the loop is shown by the program runs.
TEST(SignalPipe, SurvivesABurstAndGivesTheDefaultBack) {
  ASSERT_TRUE(CSignalPipe::install());
  for (int i = 0; i < 70000; ++i) ::raise(SIGINT);  // fills the pipe: neither fatal nor blocking
  EXPECT_EQ(CSignalPipe::drain().at(0), SIGINT);    // what fits is read back
  const pid_t child = ::fork();
  if (child == 0) {  // after the window has ended, SIGTERM ends the process as by default
    CSignalPipe::restoreDefaults();
    ::raise(SIGTERM);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  CSignalPipe::restoreDefaults();
}
