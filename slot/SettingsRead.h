#pragma once
// Reading a settings file without trusting what stands at its path: only a regular file (or a
// symbolic link to one) is read, never more than kMaxSettingsBytes, and only text whose ASCII
// bytes mean ASCII. Anything else is refused before a byte of it is read, with a text for the
// user that names the path and what is there; a refused file is never written either.
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace ini {

inline constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;

struct SettingsRead {
  enum class Outcome { Read, Missing, Refused };
  Outcome outcome = Outcome::Missing;
  std::string bytes;    // Read: the whole file
  std::string refusal;  // Refused: for the user, naming the path and why
  int error = 0;        // Refused: the errno a save over it reports
};

SettingsRead readSettingsFile(const std::string& path);

// What a non-regular file is, in the user's words ("ディレクトリ", "名前付きパイプ (FIFO)", ...).
std::string fileKind(mode_t mode);

}  // namespace ini
