#include "service/SocketFile.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "service/Listener.h"

namespace service {

namespace {

bool addressOf(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

bool bindAt(int fd, const sockaddr_un& address) {
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A crashed program's socket: a socket file that nobody answers on.
bool isLeftOver(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && !answersAt(path);
}

}  // namespace

bool answersAt(const std::string& path) {
  sockaddr_un address;
  if (!addressOf(path, address)) return false;
  const int fd = streamSocket(AF_UNIX);
  if (fd < 0) return true;  // cannot tell: assume it lives
  // A local connect never waits for the other program: it is taken, or refused at once, or
  // the backlog is full (EAGAIN), which means a program is there.
  const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  ::close(fd);
  return rc == 0 || (error != ECONNREFUSED && error != ENOENT);
}

SocketFile::~SocketFile() {
  struct stat st {};
  if (!path_.empty() && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
    ::unlink(path_.c_str());
}

int SocketFile::listen(const std::string& path, std::string& reason) {
  sockaddr_un address;
  if (!addressOf(path, address)) {
    reason = "the socket path is too long: " + path;
    return -1;
  }
  const int fd = streamSocket(AF_UNIX);
  // The socket file takes the socket's mode: owner only from the moment it exists.
  bool bound = fd >= 0 && ::fchmod(fd, 0600) == 0 && bindAt(fd, address);
  int error = bound ? 0 : errno;
  if (error == EADDRINUSE && isLeftOver(path)) {
    bound = ::unlink(path.c_str()) == 0 && bindAt(fd, address);
    error = bound ? 0 : errno;
  }
  struct stat st {};
  if (bound && (::chmod(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &st) != 0 || ::listen(fd, 16) != 0)) {
    error = errno;
    ::unlink(path.c_str());
    bound = false;
  }
  if (!bound) {
    reason = path + ": " + (error == EADDRINUSE ? "already in use" : std::strerror(error));
    if (fd >= 0) ::close(fd);
    return -1;
  }
  path_ = path;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return fd;
}

}  // namespace service
