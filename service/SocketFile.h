#pragma once
// The file of a local (Unix) stream socket that one program serves: bound with mode 0600, and
// removed when the program ends, but only while it is still the one this program bound. A file
// left at the path by a program that crashed is replaced only when nothing answers on it, and
// only when it is a socket: a live program's socket, or anything else, is never unlinked.
#include <string>
#include <sys/types.h>

namespace service {

class SocketFile {
public:
  SocketFile() = default;
  ~SocketFile();  // removes the file when it is still ours
  SocketFile(const SocketFile&) = delete;
  SocketFile& operator=(const SocketFile&) = delete;

  // A listening, non-blocking socket bound at `path`; -1 and `reason` set when it cannot be had.
  int listen(const std::string& path, std::string& reason);
  const std::string& path() const { return path_; }

private:
  std::string path_;  // empty until bound
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// True when a program accepts (or is too busy to accept) on the local socket at `path`.
bool answersAt(const std::string& path);

}  // namespace service
