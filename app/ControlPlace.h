#pragma once
// Where the control socket of the program on a settings file lives: in $RUNTIME_DIRECTORY when
// the service manager gives one (its first folder), else in the private folder the single-instance
// locks use, named like the lock after the file's folder and name (so every spelling of the path,
// a link to the file included, finds the same socket, and a save that replaces the file keeps it).
// The request options look in the same place and then, for the administrator, in the system
// unit's runtime folder, so `sudo RelvaneTiv --status --config /etc/...` finds the service.
#include <string>
#include <vector>

// The system unit's RuntimeDirectory= under /run.
inline constexpr const char* kSystemServiceFolder = "/run/relvanetiv";

// Empty when no private folder can be had.
std::string controlSocketPath(const std::string& settingsPath);
// Where a request looks, in order: controlSocketPath(), then the system unit's folder for root.
std::vector<std::string> controlSocketCandidates(const std::string& settingsPath);
