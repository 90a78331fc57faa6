#include "app/LegacySettings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Larger than any settings file the program reads; such a file is not copied.
constexpr off_t kLargestCopied = 1024 * 1024;

// The whole file, or errno; the new file is made beside nothing of the user's (O_EXCL) and
// left out when it cannot be written whole.
int copyWhole(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return errno;
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargestCopied) {
    ::close(in);
    return EINVAL;
  }
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0666);
  int error = out < 0 ? errno : 0;
  char buffer[16384];
  for (ssize_t n; error == 0 && (n = ::read(in, buffer, sizeof buffer)) != 0;) {
    if (n < 0 || ::write(out, buffer, static_cast<std::size_t>(n)) != n) error = errno ? errno : EIO;
  }
  if (error == 0 && ::fsync(out) != 0) error = errno;
  if (out >= 0 && ::close(out) != 0 && error == 0) error = errno;
  if (out >= 0 && error != 0) ::unlink(to.c_str());
  ::close(in);
  return error;
}

}  // namespace

std::string adoptStartFolderSettings(const std::string& configOption, const SettingsPlace& place,
                                     const std::string& settingsPath) {
  if (!configOption.empty() || place.workingDir.empty()) return {};
  const fs::path old = fs::path(place.workingDir) / settingsFileName;
  const fs::path beside = fs::path(place.executableDir) / settingsFileName;
  std::error_code ec;
  struct stat st {};
  if (old.lexically_normal() == fs::path(settingsPath).lexically_normal() ||
      (!place.executableDir.empty() && fs::equivalent(old, beside, ec)) || ::lstat(settingsPath.c_str(), &st) == 0 ||
      ::stat(old.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return {};
  errno = 0;
  if (const int error = copyWhole(old.string(), settingsPath); error != 0)
    return "開始フォルダの設定ファイル " + old.string() + " を " + settingsPath + " にコピーできませんでした (" +
           std::strerror(error) + ")";
  return "開始フォルダの設定ファイル " + old.string() + " を " + settingsPath +
         " にコピーしました。これからはこちらを使います (元のファイルはそのまま残しています)";
}
