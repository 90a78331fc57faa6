#include "net/Trace.h"

#include <cstdarg>
#include <cstdio>

void trace(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vprintf(fmt, args);
  va_end(args);
}
