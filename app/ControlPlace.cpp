#include "app/ControlPlace.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SingleInstance.h"

namespace {

// The unit's runtime folder: systemd makes it for the service's user with the unit's mode; one
// that another user could write into is not used.
std::string serviceRuntimeFolder() {
  const char* given = std::getenv("RUNTIME_DIRECTORY");
  if (!given || given[0] != '/') return {};
  std::string folder(given);
  folder = folder.substr(0, folder.find(':'));  // several RuntimeDirectory= entries: the first
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & 022) != 0) return {};
  return st.st_uid == ::geteuid() || ::geteuid() == 0 ? folder : std::string();
}

}  // namespace

std::string controlSocketPath(const std::string& settingsPath) {
  std::string folder = serviceRuntimeFolder();
  if (folder.empty()) folder = CSingleInstance::runtimeFolder();
  return CSingleInstance::placePath(folder, settingsPath, ".sock");
}

std::vector<std::string> controlSocketCandidates(const std::string& settingsPath) {
  std::vector<std::string> places{controlSocketPath(settingsPath)};
  // Only root may ask the service: its folder belongs to the service's own user.
  if (::geteuid() == 0) {
    const std::string service = CSingleInstance::placePath(kSystemServiceFolder, settingsPath, ".sock");
    if (service != places.front()) places.push_back(service);
  }
  return places;
}
