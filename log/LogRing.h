#pragma once
// The most recent event lines in the text form, oldest first, for the log window: a window opened late still
// shows what happened before, and a watcher hears each new line as it comes.
#include <cstddef>
#include <deque>
#include <string>

#include "log/LogSink.h"

namespace evlog {

class RingWatcher {
public:
  virtual void lineAdded(const std::string& line) = 0;

protected:
  ~RingWatcher() = default;
};

class Ring final : public Sink {
public:
  static constexpr std::size_t kDefaultCapacity = 1000;

  explicit Ring(std::size_t capacity = kDefaultCapacity) : capacity_(capacity ? capacity : 1) {}
  void write(const Record& record) override;

  const std::deque<std::string>& lines() const { return lines_; }
  std::size_t capacity() const { return capacity_; }
  // One watcher at a time, not owned; null to stop watching.
  void setWatcher(RingWatcher* watcher) { watcher_ = watcher; }

private:
  std::size_t capacity_;
  std::deque<std::string> lines_;
  RingWatcher* watcher_ = nullptr;
};

}  // namespace evlog
