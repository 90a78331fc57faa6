#include "app/StdStreams.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

#include "net/Trace.h"

void reserveStandardDescriptors() {
  // open() takes the lowest free number, which is the missing one: those below it are open.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
  // Line by line, so a debug trace piped into a pager or a file keeps up with the program; set
  // before the first line, as the C library requires. A redirect to the null device later
  // brings back full buffering.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void setupStandardStreams(int debugMode) {
  if (debugMode == 1) return;  // stays line-buffered where it was started
  // Failures are ignored: at worst the trace goes where it went before.
  std::fflush(stdout);
  [[maybe_unused]] FILE* out = std::freopen("/dev/null", "w", stdout);
  [[maybe_unused]] FILE* in = std::freopen("/dev/null", "r", stdin);
  traceTargetChanged();
}

void printBanner(int debugMode) {
  trace("********** Start RELVANE DEBUG MODE  *******\n");
  if (debugMode != 0) trace("DEBUG_MODE ON\n");
}
