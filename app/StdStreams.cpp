#include "app/StdStreams.h"

#include <cstdio>

#include "net/Trace.h"

void setupStandardStreams(int debugMode) {
  if (debugMode == 1) {
    // Line by line, so a trace piped into a pager or a file keeps up with the program.
    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return;
  }
  // Failures are ignored: at worst the trace goes where it went before.
  std::fflush(stdout);
  (void)std::freopen("/dev/null", "w", stdout);
  (void)std::freopen("/dev/null", "r", stdin);
}

void printBanner(int debugMode) {
  trace("********** Start RELVANE DEBUG MODE  *******\n");
  if (debugMode != 0) trace("DEBUG_MODE ON\n");
}
