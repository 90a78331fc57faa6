#pragma once
// The program's own directory becomes the working directory, because the INI file lives
// beside the executable. The directory is taken from argument 0 as the process got it.
#include <string>

// The text of `programPath` before its last '/'; empty when there is none.
std::string programDirectory(const std::string& programPath);

// Changes to programDirectory(programPath) unless it is empty, traces "CurrentDir=<dir>"
// and returns the directory (also kept in `currentDir`).
std::string enterProgramDirectory(const char* programPath);

// The directory start-up made the working directory; empty until then.
extern std::string currentDir;
