#pragma once
// Termination signals reach the program through a self-pipe: the handler only writes the
// signal number into the pipe; whoever watches readFd() (the headless loop here, a
// QSocketNotifier in the windowed program) reads it back and decides what to do.
#include <vector>

// What a termination signal means for the running program.
enum class SignalAction { Ignore, CloseInOrder, Reload };

// SIGTERM closes in order in every mode; SIGHUP reloads the settings in a headless run and
// closes in order in the window. SIGINT is ignored by the windowed
// program in debug mode (the interrupt key is at hand in its terminal) and closes in
// order otherwise; a headless run always closes in order on it.
SignalAction signalAction(int signo, int debugMode, bool headless);

class CSignalPipe {
public:
  // Creates the process-wide pipe, installs the handler for SIGTERM, SIGHUP and SIGINT and
  // unblocks them. Safe to call more than once; later calls reuse what is there. False if the
  // pipe fails.
  static bool install();
  // Gives the three signals their default action back (once nobody reads the pipe).
  static void restoreDefaults();
  // The read end (non-blocking, close-on-exec); -1 before install().
  static int readFd();
  // Reads every signal number waiting in the pipe, without blocking.
  static std::vector<int> drain();
  // For the start, between one port and the next: drains the pipe and tells whether a signal
  // read now or at an earlier call asked to close (signals that are ignored are dropped; a
  // reload waits for reloadAsked()).
  static bool closeAsked(int debugMode, bool headless);
  // True once when closeAsked() read a signal that asks to reload.
  static bool reloadAsked();
};
