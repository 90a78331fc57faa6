#pragma once
// Every slot of the settings file without any window: set up as the main window sets up its
// panels, then the thread's readiness loop and the signal pipe are served until a signal asks
// to close, and the slots are saved and stopped in order. What a window would show in a box
// (a refusal naming its slot, a bad value, a failed save) goes to standard error as a line of
// the log, in the log's shape. When no slot could start, the run ends at once with 1, so a
// service manager sees the failure.
// The event log goes to standard error too, unless `quiet`, without ever waiting for its reader.
// A signal to close during the start stops it before the next port opens. SIGHUP reloads the
// settings file without dropping a connection (see reloadSettings). A service manager that
// gave NOTIFY_SOCKET hears when the run is ready, reloading and stopping, and how busy it is.
#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "service/ControlCommands.h"

class CSlotSet;
namespace evlog {
class FdSink;
}
namespace service {
class Notify;
}

class CHeadlessRun {
public:
  CHeadlessRun(std::string iniPath, int debugMode, bool headless, bool quiet);
  ~CHeadlessRun();
  // The command line's --log-format ("text", "json"; "" lets the file's [GLOBAL] choose).
  void setLogFormat(std::string commandLine) { logFormat = std::move(commandLine); }
  // Returns 0 once the slots have been saved and stopped; 1 when none could start.
  int run();
  // Reads the settings file again and takes it (see CSlotSet::reload), telling the service
  // manager; returns the reload's one log line, or the reason nothing changed. Only while
  // run() serves its loop.
  service::ReloadAnswer reloadSettings();

private:
  // How long the last lines may wait at the end for a reader that is slow, not gone.
  static constexpr std::chrono::milliseconds kLogDrainAtEnd{500};

  // Serves the loop and the signal pipe until a signal that closes in order arrives.
  void serveUntilClosed();
  // The STATUS= line from the slots as they are now (sent when it changed, at most once a second).
  void refreshStatus();

  std::string iniPath;
  int debugMode;
  bool headless;
  bool quiet;
  std::string logFormat;
  std::unique_ptr<service::Notify> notify;  // owned
  CSlotSet* running = nullptr;              // run()'s own, while it runs
  evlog::FdSink* errorSink = nullptr;       // run()'s own, while it runs
};
