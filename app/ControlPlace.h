#pragma once
// Where the control socket of the program on a settings file lives: in $RUNTIME_DIRECTORY when
// the service manager gives one (its first folder), else in the private folder the single-instance
// locks use, named like the lock after the file's folder and name (so every spelling of the path,
// a link to the file included, finds the same socket, and a save that replaces the file keeps it).
// The request options look in the same place, so under a system unit an admin's request names
// the unit's folder with RUNTIME_DIRECTORY too.
#include <string>

// Empty when no private folder can be had.
std::string controlSocketPath(const std::string& settingsPath);
