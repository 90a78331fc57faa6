#include "log/FdSink.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log/JournalStream.h"
#include "log/LogLines.h"

namespace evlog {

FdSink::FdSink(int fd, std::size_t bound) : fd_(fd), bound_(bound), journal_(journalStream(fd)) {
  struct stat st {};
  socket_ = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

void FdSink::enqueue(std::string line) {
  line += '\n';
  queued_ += line.size();
  queue_.push_back(std::move(line));
}

void FdSink::enqueueDropped() {
  enqueue(renderLine(linesDroppedLine(dropped_), format_, journal_));
  dropped_ = 0;
}

void FdSink::write(const Record& record) {
  std::string line = renderLine(record, format_, journal_);
  if (queued_ + line.size() + 1 > bound_) {
    ++dropped_;
    return;
  }
  if (dropped_ != 0) enqueueDropped();
  enqueue(std::move(line));
}

bool FdSink::writable(int timeoutMs) const {
  pollfd p{fd_, POLLOUT, 0};
  while (::poll(&p, 1, timeoutMs) < 0)
    if (errno != EINTR) return false;
  return (p.revents & POLLOUT) != 0;
}

// A pipe that polls writable takes PIPE_BUF bytes at once without blocking, a terminal about as
// much; so a write is kept to that size (one longer line goes on its own, in pieces).
bool FdSink::writeSome() {
  std::string chunk = queue_.front().substr(frontDone_, PIPE_BUF);
  for (std::size_t i = 1; i < queue_.size() && chunk.size() + queue_[i].size() <= PIPE_BUF; ++i) chunk += queue_[i];
  if (!socket_ && !writable(0)) return false;
  ssize_t n;
  do {
    n = socket_ ? ::send(fd_, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                : ::write(fd_, chunk.data(), chunk.size());
  } while (n < 0 && errno == EINTR);
  if (n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) return false;
  // A descriptor that fails otherwise (closed, full disk) loses its lines, never the loop.
  std::size_t done = n < 0 ? queued_ : static_cast<std::size_t>(n);
  while (done > 0 && !queue_.empty()) {
    const std::size_t left = queue_.front().size() - frontDone_;
    if (done < left) {
      frontDone_ += done;
      break;
    }
    done -= left;
    queued_ -= queue_.front().size();
    queue_.pop_front();
    frontDone_ = 0;
  }
  return true;
}

void FdSink::flush() {
  while (!queue_.empty() && writeSome()) {
  }
  if (queue_.empty() && dropped_ != 0) {  // the reader caught up: say what it missed
    enqueueDropped();
    while (!queue_.empty() && writeSome()) {
    }
  }
}

void FdSink::drain(std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (flush(); pending(); flush()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !writable(static_cast<int>(left.count()))) return;
  }
}

}  // namespace evlog
