#pragma once
// Where the log's records go: standard error for a run without a window, a ring of recent text
// lines for the log window. Each sink writes a record in its own shape (LogFormat.h).
#include "log/LogRecord.h"

namespace evlog {

class Sink {
public:
  virtual void write(const Record& record) = 0;

protected:
  ~Sink() = default;
};

}  // namespace evlog
