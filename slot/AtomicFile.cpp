#include "slot/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "net/Trace.h"

namespace ini {
namespace {

bool fail(const char* step, const std::string& path, int err) {
  trace("Error:ini::writeFileAtomically()-%s err=%d path=%s\n", step, err, path.c_str());
  errno = err;
  return false;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
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

// Makes every missing folder above `file`, private to the user.
void makeParentFolders(const std::string& file) {
  const std::filesystem::path parent = std::filesystem::path(file).parent_path();
  std::filesystem::path sofar;
  for (const auto& part : parent) {
    sofar /= part;
    ::mkdir(sofar.c_str(), 0700);
  }
}

bool writeInPlace(const std::string& target, std::string_view bytes) {
  int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail("open() in place", target, errno);
  const char* step = nullptr;
  if (!writeAll(fd, bytes)) step = "write() in place";
  else if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) step = "ftruncate()";
  else if (::fsync(fd) != 0) step = "fsync()";
  int err = step ? errno : 0;
  if (::close(fd) != 0 && !step) step = "close()", err = errno;
  return step ? fail(step, target, err) : true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = resolveTarget(path);
  const std::string temp = target + ".tmp";
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && (old.st_mode & S_IWUSR) == 0) return fail("read-only", target, EACCES);

  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 && errno == ENOENT && !hadOld) {
    makeParentFolders(target);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    const int err = errno;
    if (hadOld && (err == EACCES || err == EPERM) && ::access(target.c_str(), W_OK) == 0)
      return writeInPlace(target, bytes);
    return fail("open()", temp, err);
  }
  bool ok = (!hadOld || ::fchmod(fd, old.st_mode & 07777) == 0);
  const char* step = ok ? nullptr : "fchmod()";
  if (ok && !(ok = writeAll(fd, bytes))) step = "write()";
  if (ok && !(ok = ::fsync(fd) == 0)) step = "fsync()";
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) ok = false, step = "close()", err = errno;
  if (ok && !(ok = ::rename(temp.c_str(), target.c_str()) == 0)) step = "rename()", err = errno;
  if (ok) return true;
  ::unlink(temp.c_str());
  return fail(step, target, err);
}

}  // namespace ini
