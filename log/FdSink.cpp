#include "log/FdSink.h"

#include <cerrno>
#include <unistd.h>

namespace evlog {

void FdSink::write(const std::string& line) {
  const std::string whole = line + '\n';
  std::size_t done = 0;
  // Bounded: a descriptor that keeps failing (closed, full disk) loses the line, never the loop.
  for (int attempt = 0; done < whole.size() && attempt < 16; ++attempt) {
    const ssize_t n = ::write(fd_, whole.data() + done, whole.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR && errno != EAGAIN) return;
  }
}

}  // namespace evlog
