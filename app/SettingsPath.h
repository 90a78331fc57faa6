#pragma once
// Where the settings file lives: named outright by --config; else beside the executable
// when a file is already there (a portable copy); else in the user's configuration folder,
// $XDG_CONFIG_HOME/relvanetiv/ (default ~/.config/relvanetiv/), made on the first save.
#include <string>

inline constexpr const char* settingsFileName = "RelvaneTiv.ini";

// What the rule looks at, gathered once so that it can be given by hand.
struct SettingsPlace {
  std::string executableDir;  // the running executable's folder, from the system
  std::string workingDir;     // a relative --config is taken from here
  std::string configHome;     // $XDG_CONFIG_HOME; used only when absolute
  std::string home;           // the user's home folder
};

// The folder of the running executable as the system knows it (/proc/self/exe), so a bare
// name or a symbolic link finds the real one. Empty when it cannot be read.
std::string executableDirectory();

// The user's home: $HOME, else the password database's entry; empty when neither tells.
std::string homeDirectory();

// The place of this process: executable, working directory and environment.
SettingsPlace currentSettingsPlace();

// The settings file's full path for `configOption` (empty when --config was not given).
std::string settingsFilePath(const std::string& configOption, const SettingsPlace& place);
