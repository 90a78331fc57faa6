#include "log/LogRing.h"

#include "log/LogFormat.h"

namespace evlog {

void Ring::write(const Record& record) {
  std::string line = textLine(record);
  if (lines_.size() == capacity_) lines_.pop_front();
  lines_.push_back(std::move(line));
  if (watcher_) watcher_->lineAdded(lines_.back());
}

}  // namespace evlog
