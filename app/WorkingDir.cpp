#include "app/WorkingDir.h"

#include <unistd.h>

#include "net/Trace.h"

std::string currentDir;

std::string enterProgramDirectory(const std::string& directory) {
  currentDir = directory;
  if (!currentDir.empty()) {
    [[maybe_unused]] const int ignored = ::chdir(currentDir.c_str());  // failing, it stays put
  }
  trace("CurrentDir=%s", currentDir.c_str());
  return currentDir;
}
