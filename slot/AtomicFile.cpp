#include "slot/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "net/Trace.h"

namespace ini {
namespace {

bool fail(const char* step, const std::string& path) {
  trace("Error:ini::writeFileAtomically()-%s err=%d path=%s\n", step, errno, path.c_str());
  return false;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Where the bytes really belong: the target of a link, else the path itself.
std::string resolveTarget(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  auto target = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : target.string();
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = resolveTarget(path);
  const std::string temp = target + ".tmp";
  struct stat old {};
  bool hadOld = ::stat(target.c_str(), &old) == 0;

  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail("open()", temp);
  bool ok = (!hadOld || ::fchmod(fd, old.st_mode & 07777) == 0);
  const char* step = ok ? nullptr : "fchmod()";
  if (ok && !(ok = writeAll(fd, bytes))) step = "write()";
  if (ok && !(ok = ::fsync(fd) == 0)) step = "fsync()";
  if (::close(fd) != 0 && ok) ok = false, step = "close()";
  if (ok && !(ok = ::rename(temp.c_str(), target.c_str()) == 0)) step = "rename()";
  if (ok) return true;
  int err = errno;
  ::unlink(temp.c_str());
  errno = err;
  return fail(step, target);
}

}  // namespace ini
