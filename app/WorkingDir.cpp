#include "app/WorkingDir.h"

#include <unistd.h>

#include "net/Trace.h"

std::string currentDir;

std::string enterProgramDirectory(const std::string& directory) {
  currentDir = directory;
  if (!currentDir.empty()) (void)::chdir(currentDir.c_str());
  trace("CurrentDir=%s", currentDir.c_str());
  return currentDir;
}
