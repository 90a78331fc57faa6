#include "log/LogRing.h"

namespace evlog {

void Ring::write(const std::string& line) {
  if (lines_.size() == capacity_) lines_.pop_front();
  lines_.push_back(line);
  if (watcher_) watcher_->lineAdded(line);
}

}  // namespace evlog
