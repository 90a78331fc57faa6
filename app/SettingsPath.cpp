#include "app/SettingsPath.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string executableDirectory() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return {};
}

SettingsPlace currentSettingsPlace() {
  SettingsPlace place;
  place.executableDir = executableDirectory();
  std::error_code ec;
  place.workingDir = fs::current_path(ec).string();
  if (const char* configHome = std::getenv("XDG_CONFIG_HOME")) place.configHome = configHome;
  place.home = homeDirectory();
  return place;
}

std::string settingsFilePath(const std::string& configOption, const SettingsPlace& place) {
  if (!configOption.empty()) {
    const fs::path named(configOption);
    return (named.is_absolute() ? named : fs::path(place.workingDir) / named).lexically_normal();
  }
  if (!place.executableDir.empty()) {
    const fs::path portable = fs::path(place.executableDir) / settingsFileName;
    std::error_code ec;
    if (fs::exists(portable, ec)) return portable.string();
  }
  // XDG base directories must be absolute; a relative value is ignored.
  fs::path base = place.configHome.rfind('/', 0) == 0 ? fs::path(place.configHome)
                  : !place.home.empty()               ? fs::path(place.home) / ".config"
                                                      : fs::path(place.workingDir);
  return (base / "relvanetiv" / settingsFileName).lexically_normal();
}
