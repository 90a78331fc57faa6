#include "app/StdStreams.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

#include "net/Trace.h"

void reserveStandardDescriptors() {
  // open() takes the lowest free number, which is the missing one: those below it are open.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
}

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
