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
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  if ((st.st_mode & 022) == 0) return true;
  return ours && ::chmod(dir.c_str(), 0700) == 0;
}

// The session's runtime folder whether or not the environment names it, so a program started
// without XDG_RUNTIME_DIR (cron, su, a service) finds the lock of one started from the desktop.
std::string lockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime && runtime[0] == '/' && isPrivateFolder(runtime, false))
    return runtime;
  if (const std::string session = "/run/user/" + std::to_string(::geteuid()); isPrivateFolder(session, false))
    return session;
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

std::string identity(const struct stat& st) { return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino); }

std::string lockFileIn(const std::string& folder, const std::string& key, const char* suffix = ".lock") {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
  return folder + "/" + CSingleInstance::instanceName() + "-" + hash + suffix;
}

// Held for good once taken; Failed and AlreadyRunning leave nothing open.
CSingleInstance::Result lockOne(const std::string& path, int& fd, int& error) {
  const int lockFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd < 0) {
    error = errno;
    return CSingleInstance::Failed;
  }
  while (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    error = errno;
    ::close(lockFd);
    return error == EWOULDBLOCK ? CSingleInstance::AlreadyRunning : CSingleInstance::Failed;
  }
  fd = lockFd;
  return CSingleInstance::Acquired;
}

}  // namespace

CSingleInstance::~CSingleInstance() { release(); }

void CSingleInstance::release() {
  for (int& fd : fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

std::string CSingleInstance::instanceName() {
  char name[64];
  std::snprintf(name, sizeof(name), "%s%s", "__BRAMBLECOTE__", "RELVANETIV");
  return name;
}

std::string CSingleInstance::runtimeFolder() { return lockFolder(); }

std::string CSingleInstance::lockPath(const std::string& settingsPath) {
  return placePath(lockFolder(), settingsPath, ".lock");
}

std::string CSingleInstance::placePath(const std::string& folder, const std::string& settingsPath, const char* suffix) {
  if (folder.empty()) return {};
  std::error_code ec;
  std::filesystem::path file = std::filesystem::weakly_canonical(settingsPath, ec);
  if (ec) file = std::filesystem::path(settingsPath).lexically_normal();
  struct stat st {};
  const std::string where = ::stat(file.parent_path().c_str(), &st) == 0 ? identity(st) : file.parent_path().string();
  return lockFileIn(folder, where + "/" + file.filename().string(), suffix);
}

std::string CSingleInstance::fileLockPath(const std::string& settingsPath) {
  struct stat st {};
  const std::string folder = lockFolder();
  if (folder.empty() || ::stat(settingsPath.c_str(), &st) != 0) return {};
  return lockFileIn(folder, identity(st));
}

CSingleInstance::Result CSingleInstance::acquire(const std::string& settingsPath) {
  if (fds[0] >= 0) return Acquired;
  const std::string paths[2] = {lockPath(settingsPath), fileLockPath(settingsPath)};
  for (int i = 0; i < 2; ++i) {
    tried = paths[i];
    if (tried.empty()) {
      if (i == 1 && !paths[0].empty()) break;  // no file yet: its name is all there is to lock
      error = EACCES;
      return Failed;
    }
    if (const Result result = lockOne(tried, fds[i], error); result != Acquired) {
      release();
      return result;
    }
  }
  return Acquired;
}
