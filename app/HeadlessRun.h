#pragma once
// Every slot of the settings file without any window: set up as the main window sets up its
// panels, then the thread's readiness loop and the signal pipe are served until a signal asks
// to close, and the slots are saved and stopped in order. What a window would show in a box
// (a refusal naming its slot, a bad value, a failed save) goes to standard error as a line of
// the log, in the log's shape. When no slot could start, the run ends at once with 1, so a
// service manager sees the failure.
// The event log goes to standard error too, unless `quiet`, without ever waiting for its reader.
// A signal to close during the start stops it before the next port opens.
#include <chrono>
#include <string>
#include <utility>

class CHeadlessRun {
public:
  CHeadlessRun(std::string iniPath, int debugMode, bool headless, bool quiet);
  // The command line's --log-format ("text", "json"; "" lets the file's [GLOBAL] choose).
  void setLogFormat(std::string commandLine) { logFormat = std::move(commandLine); }
  // Returns 0 once the slots have been saved and stopped; 1 when none could start.
  int run();

private:
  // How long the last lines may wait at the end for a reader that is slow, not gone.
  static constexpr std::chrono::milliseconds kLogDrainAtEnd{500};

  // Serves the loop and the signal pipe until a signal that closes in order arrives.
  void serveUntilClosed();

  std::string iniPath;
  int debugMode;
  bool headless;
  bool quiet;
  std::string logFormat;
};
