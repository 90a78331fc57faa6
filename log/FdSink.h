#pragma once
// Writes lines, each with its line break, to a descriptor (standard error for a run without a
// window), whole lines per write(2) so a service manager's journal never gets half a line. The
// lines wait until flush() (the loop calls it at the end of every round, so a line is out
// within the round that logged it) and go in one write.
#include <string>

#include "log/LogSink.h"

namespace evlog {

class FdSink final : public Sink {
public:
  explicit FdSink(int fd) : fd_(fd) {}
  ~FdSink() { flush(); }
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;

  void write(const std::string& line) override;
  void flush();

private:
  static constexpr std::size_t kMaxHeld = 64 * 1024;  // a round that logs more writes early

  int fd_;  // not owned
  std::string held_;
};

}  // namespace evlog
