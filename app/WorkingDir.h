#pragma once
// The program's own directory becomes the working directory, as it always has; the settings
// file's place no longer depends on it (see SettingsPath.h).
#include <string>

// Changes to `directory` unless it is empty, traces "CurrentDir=<dir>" and returns it (also
// kept in `currentDir`).
std::string enterProgramDirectory(const std::string& directory);

// The directory start-up made the working directory; empty until then.
extern std::string currentDir;
