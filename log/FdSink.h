#pragma once
// Writes records as lines, each with its line break, to a descriptor (standard error for a run
// without a window), in the text form or JSON, with the journal's "<n>" in front when the
// descriptor is the journal's stream; whole lines per write(2) so a service manager's journal
// never gets half a line. It never waits for the reader: a write goes out only when the
// descriptor has room for it now (asked with poll, or send with MSG_DONTWAIT on a socket), and
// the rest waits in a bounded queue for the next flush(). The descriptor's own flags are left
// alone: a terminal or pipe shares them with every process that writes to it, and O_NONBLOCK
// there would make their writes fail. Lines that find the queue full are dropped and counted; once there is room
// again a line of the event "lines_dropped" stands where they were.
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>

#include "log/LogFormat.h"
#include "log/LogSink.h"

namespace evlog {

class FdSink final : public Sink {
public:
  static constexpr std::size_t kDefaultBound = 256 * 1024;  // bytes of lines that may wait

  explicit FdSink(int fd, std::size_t bound = kDefaultBound);
  ~FdSink() { flush(); }
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;

  void write(const Record& record) override;
  // The shape from now on; Format::Text until set.
  void setFormat(Format shape) { format_ = shape; }
  // Writes what fits now, without waiting; the loop calls it at the end of every round and
  // whenever the descriptor becomes writable while lines wait.
  void flush();
  // Flushes for up to `limit` while the reader takes what waits (at the end of a run).
  void drain(std::chrono::milliseconds limit);
  bool pending() const { return !queue_.empty(); }
  int fd() const { return fd_; }

private:
  void enqueue(std::string line);
  void enqueueDropped();
  bool writable(int timeoutMs) const;
  // One write of whole lines from the front of the queue; false when nothing could be written.
  bool writeSome();

  int fd_;  // not owned
  std::size_t bound_;
  bool socket_;   // sent with MSG_DONTWAIT rather than asked with poll
  bool journal_;  // the journal's stream when made
  Format format_ = Format::Text;
  std::deque<std::string> queue_;  // each line with its line break
  std::size_t queued_ = 0;         // bytes in queue_
  std::size_t frontDone_ = 0;      // bytes of the front line already written
  unsigned long long dropped_ = 0;
};

}  // namespace evlog
