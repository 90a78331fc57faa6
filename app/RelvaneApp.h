#pragma once
// The application object: start-up in order, then the program's one run.
#include <optional>
#include <string>

#include "app/SingleInstance.h"

struct CommandLine;

class CRelvaneDlg;  // the main window (windowed program)

// 1 once "-D583" was seen; only start-up reads it.
extern int debugMode;
// The running main window, not owned; null until the windowed program runs one.
extern CRelvaneDlg* mainDialog;

// The one line a windowed start without a display prints before it ends with code 1.
extern const char* const noDisplayText;

class CRelvaneApp {
public:
  CRelvaneApp() = default;
  virtual ~CRelvaneApp() = default;
  CRelvaneApp(const CRelvaneApp&) = delete;
  CRelvaneApp& operator=(const CRelvaneApp&) = delete;

  // Runs start-up and then the program until it is closed. Returns 0 after the run (or
  // when sockets cannot be started), -1 when another instance runs or the lock cannot be
  // taken. The process ends when it returns, with exitCode().
  virtual int startInstance(int argc, char** argv);

  // 0 after a run that ended in order (or --help, --version), 1 after any refused start or
  // failed run, 2 after a command line that was not understood.
  int exitCode() const { return exit; }

protected:
  enum class Windowing { Window, NoWindows, NoDisplay };
  // The windowed program overrides these three; the core alone runs without a window.
  // Called after the command line was read, before anything else, unless --headless was
  // given: prepares the windows so that refusals can be shown in boxes. NoWindows: this
  // program has none (the slots run without); NoDisplay: it has, but there is no display.
  virtual Windowing beginWindowing(int argc, char** argv);
  // A refused start, or a notice at start. With a caption: a plain box with that caption and
  // no icon; without: a box captioned with the program's name. Without windows: a line of the
  // log on standard error, naming the settings file.
  virtual void showRefusal(const char* text, const char* caption);
  // Runs the main window until it is closed; returns the exit code.
  virtual int runMainWindow();

  // The settings file of this run, fixed before anything else starts.
  std::string settingsPath;

private:
  // An error, --help or --version: answered on the standard streams; true when that is all.
  bool answerCommandLine(const CommandLine& line);
  // No display for a window, no sockets, or another instance on the same settings file: told,
  // exit set to 1, and the value startInstance returns; nullopt when the start may go on.
  std::optional<int> refuseStart(Windowing windowing);

  CSingleInstance instance;  // held for the process lifetime
  int exit = 0;
  bool quiet = false;     // --quiet: no event log on standard error
  std::string logFormat;  // --log-format: "text", "json" or "" (the settings file may choose)
};
