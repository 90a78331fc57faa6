#include "app/SingleInstance.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SettingsPath.h"

const char* const alreadyRunningText = "     既に起動されています.     ";
const char* const alreadyRunningCaption = "２重起動";

namespace {

// A folder this user owns and nobody else may write into. Our own one is made if missing
// and its mode put right; one we were given is only judged.
bool isPrivateFolder(const std::string& dir, bool ours) {
  if (ours) ::mkdir(dir.c_str(), 0700);
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  if ((st.st_mode & 022) == 0) return true;
  return ours && ::chmod(dir.c_str(), 0700) == 0;
}

std::string lockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime && runtime[0] == '/' && isPrivateFolder(runtime, false))
    return runtime;
  std::string cache;
  if (const char* c = std::getenv("XDG_CACHE_HOME"); c && c[0] == '/') {
    cache = c;
  } else if (const std::string home = homeDirectory(); !home.empty()) {
    cache = home + "/.cache";
  } else {
    return {};
  }
  ::mkdir(cache.c_str(), 0700);
  const std::string own = cache + "/relvanetiv";
  return isPrivateFolder(own, true) ? own : std::string();
}

// FNV-1a: stable across builds and runs, which std::hash does not promise.
std::uint64_t fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

}  // namespace

CSingleInstance::~CSingleInstance() {
  if (fd >= 0) ::close(fd);
}

std::string CSingleInstance::instanceName() {
  char name[64];
  std::snprintf(name, sizeof(name), "%s%s", "__BRAMBLECOTE__", "RELVANETIV");
  return name;
}

std::string CSingleInstance::lockPath(const std::string& settingsPath) {
  const std::string folder = lockFolder();
  if (folder.empty()) return {};
  std::error_code ec;
  std::filesystem::path file = std::filesystem::weakly_canonical(settingsPath, ec);
  if (ec) file = std::filesystem::path(settingsPath).lexically_normal();
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(file.string())));
  return folder + "/" + instanceName() + "-" + hash + ".lock";
}

CSingleInstance::Result CSingleInstance::acquire(const std::string& settingsPath) {
  if (fd >= 0) return Acquired;
  tried = lockPath(settingsPath);
  if (tried.empty()) {
    error = EACCES;
    return Failed;
  }
  int lockFd = ::open(tried.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd < 0) {
    error = errno;
    return Failed;
  }
  while (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    error = errno;
    ::close(lockFd);
    return error == EWOULDBLOCK ? AlreadyRunning : Failed;
  }
  fd = lockFd;
  return Acquired;
}
