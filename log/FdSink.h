#pragma once
// Writes each line with its line break in one write(2) to a descriptor (standard error for a
// run without a window): line by line, so a service manager's journal gets whole lines at once
// and nothing waits in a buffer when the process is killed.
#include "log/LogSink.h"

namespace evlog {

class FdSink : public Sink {
public:
  explicit FdSink(int fd) : fd_(fd) {}
  void write(const std::string& line) override;

private:
  int fd_;  // not owned
};

}  // namespace evlog
