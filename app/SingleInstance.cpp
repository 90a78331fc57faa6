#include "app/SingleInstance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

const char* const alreadyRunningText = "     既に起動されています.     ";
const char* const alreadyRunningCaption = "２重起動";

CSingleInstance::~CSingleInstance() {
  if (fd >= 0) ::close(fd);
}

std::string CSingleInstance::instanceName() {
  char name[64];
  std::snprintf(name, sizeof(name), "%s%s", "__BRAMBLECOTE__", "RELVANETIV");
  return name;
}

std::string CSingleInstance::lockPath() {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  std::string dir;
  if (runtimeDir && runtimeDir[0] == '/') {
    dir = runtimeDir;
  } else {
    std::error_code ec;
    dir = std::filesystem::temp_directory_path(ec).string();
    if (ec || dir.empty()) dir = "/tmp";
  }
  // The temp dir is shared by every user; the user id keeps one user from locking out another.
  std::string name = instanceName();
  if (!runtimeDir || runtimeDir[0] != '/') name += "." + std::to_string(::getuid());
  return dir + "/" + name + ".lock";
}

CSingleInstance::Result CSingleInstance::acquire() {
  if (fd >= 0) return Acquired;
  // No symlinks: in a shared temp dir another user could point the name elsewhere.
  int lockFd = ::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
