#include "app/WorkingDir.h"

#include <unistd.h>

#include "net/Trace.h"

std::string currentDir;

std::string programDirectory(const std::string& programPath) {
  std::size_t slash = programPath.rfind('/');
  if (slash == std::string::npos) return {};
  return programPath.substr(0, slash);
}

std::string enterProgramDirectory(const char* programPath) {
  currentDir = programDirectory(programPath ? programPath : "");
  // "/prog" leaves an empty text before the slash; that is still the root, not "no change".
  const std::string target =
      currentDir.empty() && programPath && programPath[0] == '/' ? "/" : currentDir;
  if (!target.empty()) (void)::chdir(target.c_str());
  trace("CurrentDir=%s", currentDir.c_str());
  return currentDir;
}
