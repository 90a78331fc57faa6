#include "app/StartupArgs.h"

#include <cstdio>
#include <cstring>

#include "net/Trace.h"

namespace {
const char debugSwitch[] = "-D583";
}

bool isDebugSwitch(const char* argument) {
  // Comparing the terminating NUL as well rules out longer arguments that start alike.
  return argument && std::strncmp(argument, debugSwitch, sizeof(debugSwitch)) == 0;
}

int traceArguments(int argc, const char* const* argv) {
  int debugMode = 0;
  for (int i = 1; i < argc; ++i) {
    char label[32];
    std::snprintf(label, sizeof(label), "%d番目の引数", i);
    trace("%s=%s\n", label, argv[i]);
    if (isDebugSwitch(argv[i])) {
      debugMode = 1;
      trace("DEBUGMODE ON\n");
    }
  }
  return debugMode;
}
