#include "net/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>

namespace {

int discarding = -1;  // -1 until standard output has been looked at

bool isNullDevice(int fd) {
  struct stat out {
  }, null{};
  return fd >= 0 && ::fstat(fd, &out) == 0 && S_ISCHR(out.st_mode) && ::stat("/dev/null", &null) == 0 &&
         out.st_rdev == null.st_rdev;
}

}  // namespace

void traceTargetChanged() {
  std::fflush(stdout);
  discarding = isNullDevice(::fileno(stdout)) ? 1 : 0;
}

void trace(const char* fmt, ...) {
  if (discarding < 0) traceTargetChanged();
  if (discarding == 1) return;
  va_list args;
  va_start(args, fmt);
  std::vprintf(fmt, args);
  va_end(args);
}
