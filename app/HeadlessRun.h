#pragma once
// Slot 0 without any window: set up as the main window sets up its panel, then the thread's
// readiness loop and the signal pipe are served until a signal asks to close, and the slot
// is saved and stopped in order. The event log goes to standard error unless `quiet`.
#include <string>

// The INI file beside the executable: the working directory start-up chose, "/", the name.
std::string defaultIniPath();

class CHeadlessRun {
 public:
  CHeadlessRun(std::string iniPath, int debugMode, bool headless, bool quiet);
  // Returns 0 once the slot has been saved and stopped.
  int run();

 private:
  // Serves the loop and the signal pipe until a signal that closes in order arrives.
  void serveUntilClosed();

  std::string iniPath;
  int debugMode;
  bool headless;
  bool quiet;
};
