#include "log/FdSink.h"

#include <cerrno>
#include <unistd.h>

namespace evlog {

void FdSink::write(const std::string& line) {
  held_ += line;
  held_ += '\n';
  if (held_.size() >= kMaxHeld) flush();
}

void FdSink::flush() {
  std::size_t done = 0;
  // Bounded: a descriptor that keeps failing (closed, full disk) loses the lines, never the loop.
  for (int attempt = 0; done < held_.size() && attempt < 16; ++attempt) {
    const ssize_t n = ::write(fd_, held_.data() + done, held_.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  held_.clear();
}

}  // namespace evlog
