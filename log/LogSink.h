#pragma once
// Where finished event lines go: standard error for a run without a window, a ring of recent
// lines for the log window. A line arrives without its line break.
#include <string>

namespace evlog {

class Sink {
public:
  virtual void write(const std::string& line) = 0;

protected:
  ~Sink() = default;
};

}  // namespace evlog
