#include "slot/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

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

// Where the bytes really belong: the end of a chain of links, else the path itself. False for
// a link that leads nowhere (or round in a loop).
bool resolveTarget(const std::string& path, std::string& target) {
  std::error_code ec;
  target = path;
  if (!std::filesystem::is_symlink(path, ec)) return true;
  target = std::filesystem::canonical(path, ec).string();
  return !ec;
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

// The user's own right to write the file decides, not the folder's: a save must never
// replace what the user could not have written.
bool mayReplace(const std::string& target, const struct stat& old) {
  if (!S_ISREG(old.st_mode)) return fail("not a regular file", target, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
  if ((old.st_mode & S_IWUSR) == 0) return fail("read-only", target, EACCES);
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return fail("faccessat()", target, errno);
  return true;
}

// A new file beside the target under a name nobody could have prepared: "<target>.XXXXXX.tmp".
int createTemp(const std::string& target, std::string& temp) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tag(6, 'x');
    for (char& c : tag) c = kLetters[random() % (sizeof kLetters - 1)];
    temp = target + "." + tag + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The new file gets the old one's owner where the user may give it; false when it may not.
bool keepOwner(int fd, const struct stat& old) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if (now.st_uid == old.st_uid && now.st_gid == old.st_gid) return true;
  return ::fchown(fd, old.st_uid, old.st_gid) == 0;
}

mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void syncFolder(const std::string& target) {
  const std::string folder = std::filesystem::path(target).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0)
    trace("Error:ini::writeFileAtomically()-fsync() folder err=%d path=%s\n", errno, folder.c_str());
  if (fd >= 0) ::close(fd);
}

bool writeInPlace(const std::string& target, const struct stat& old, std::string_view bytes) {
  int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail("open() in place", target, errno);
  struct stat now {};
  const char* step = nullptr;
  int err = EAGAIN;  // the path no longer names the file that was checked
  if (::fstat(fd, &now) != 0 || now.st_dev != old.st_dev || now.st_ino != old.st_ino) step = "changed in place";
  else if (!writeAll(fd, bytes))
    step = "write() in place", err = errno;
  else if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
    step = "ftruncate()", err = errno;
  else if (::fsync(fd) != 0)
    step = "fsync()", err = errno;
  if (::close(fd) != 0 && !step) step = "close()", err = errno;
  return step ? fail(step, target, err) : true;
}

// Fills the temporary file and puts it in the target's place.
bool replaceWith(int fd, const std::string& temp, const std::string& target, bool hadOld, const struct stat& old,
                 std::string_view bytes) {
  const char* step = nullptr;
  if (::fchmod(fd, hadOld ? (old.st_mode & 07777) : newFileMode()) != 0) step = "fchmod()";
  else if (!writeAll(fd, bytes))
    step = "write()";
  else if (::fsync(fd) != 0)
    step = "fsync()";
  int err = step ? errno : 0;
  if (::close(fd) != 0 && !step) step = "close()", err = errno;
  if (!step && ::rename(temp.c_str(), target.c_str()) != 0) step = "rename()", err = errno;
  if (!step) {
    syncFolder(target);
    return true;
  }
  ::unlink(temp.c_str());
  return fail(step, target, err);
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  std::string target;
  if (!resolveTarget(path, target)) return fail("dangling link", path, ENOENT);
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (!hadOld && errno != ENOENT) return fail("stat()", target, errno);
  if (hadOld && !mayReplace(target, old)) return false;

  std::string temp;
  int fd = createTemp(target, temp);
  if (fd < 0 && errno == ENOENT && !hadOld) {
    makeParentFolders(target);
    fd = createTemp(target, temp);
  }
  if (fd < 0) {
    const int err = errno;
    if (hadOld && (err == EACCES || err == EPERM)) return writeInPlace(target, old, bytes);
    return fail("open()", temp, err);
  }
  if (hadOld && !keepOwner(fd, old)) {
    ::close(fd);
    ::unlink(temp.c_str());
    return writeInPlace(target, old, bytes);
  }
  return replaceWith(fd, temp, target, hadOld, old, bytes);
}

}  // namespace ini
