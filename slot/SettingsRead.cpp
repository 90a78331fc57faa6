#include "slot/SettingsRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "net/Trace.h"

namespace ini {
namespace {

SettingsRead refuse(const std::string& path, int error, const std::string& why) {
  trace("Error:ini::readSettingsFile() refused %s err=%d\n", path.c_str(), error);
  return {SettingsRead::Outcome::Refused,
          {},
          "設定ファイル " + path + why + "。このファイルは読み込まず、書き込みもしません",
          error};
}

SettingsRead refuseSize(const std::string& path, long long size) {
  return refuse(
      path, EFBIG,
      " は大きすぎます (" + std::to_string(size) + " バイト、上限 " + std::to_string(kMaxSettingsBytes) + " バイト)");
}

// A stat that failed: a link to nowhere is named as such; a plain missing path is "Missing".
SettingsRead notThere(const std::string& path, int error) {
  struct stat link {};
  if (error == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    const std::string to = std::filesystem::read_symlink(path, ec).string();
    return refuse(path, ENOENT, " はリンク先のないシンボリックリンクです (リンク先: " + to + ")");
  }
  if (error == ENOENT) return {};
  return refuse(path, error, " を読み込めません (" + std::string(std::strerror(error)) + ")");
}

// Text whose bytes below 0x80 are ASCII: a UTF-16 or UTF-32 text would have every key
// misread and a save would append UTF-8 to it.
SettingsRead checkText(const std::string& path, std::string bytes) {
  if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0)
    return refuse(path, EILSEQ, " は UTF-16 のテキストです。UTF-8 などの ASCII 互換の文字コードで保存し直してください");
  if (bytes.find('\0') != std::string::npos)
    return refuse(path, EILSEQ, " に NUL バイトがあります (テキストファイルではありません)");
  return {SettingsRead::Outcome::Read, std::move(bytes), {}, 0};
}

// Reads one byte past the bound, so a file that grew after its size was taken is caught too.
SettingsRead readBounded(const std::string& path, int fd) {
  std::string bytes(kMaxSettingsBytes + 1, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return notThere(path, errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > kMaxSettingsBytes) return refuseSize(path, static_cast<long long>(got));
  bytes.resize(got);
  return checkText(path, std::move(bytes));
}

}  // namespace

std::string fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "ディレクトリ";
  if (S_ISFIFO(mode)) return "名前付きパイプ (FIFO)";
  if (S_ISCHR(mode)) return "キャラクタデバイス";
  if (S_ISBLK(mode)) return "ブロックデバイス";
  if (S_ISSOCK(mode)) return "ソケット";
  return "通常のファイルではないもの";
}

SettingsRead readSettingsFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return notThere(path, errno);
  // Checked again on the open file: the path may have changed in between. O_NONBLOCK so that
  // a FIFO put there in that moment cannot hold the start up.
  const int fd = S_ISREG(st.st_mode) ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) : -1;
  if (fd >= 0 && ::fstat(fd, &st) != 0) st.st_mode = 0;
  SettingsRead read;
  if (S_ISREG(st.st_mode) && fd < 0) read = notThere(path, errno);
  else if (!S_ISREG(st.st_mode))
    read = refuse(path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL,
                  " は" + fileKind(st.st_mode) + "です。通常のファイルだけを設定ファイルとして扱います");
  else if (st.st_size > static_cast<off_t>(kMaxSettingsBytes))
    read = refuseSize(path, st.st_size);
  else
    read = readBounded(path, fd);
  if (fd >= 0) ::close(fd);
  return read;
}

}  // namespace ini
