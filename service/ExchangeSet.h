#pragma once
// The open exchanges of one local server, at most a fixed number: a connection beyond it is
// closed as it comes, so that clients that stall cannot take the descriptors the relay needs.
#include <cstddef>
#include <memory>
#include <unordered_map>

#include "service/Exchange.h"

namespace service {

class ExchangeSet {
public:
  ExchangeSet(std::size_t maxOpen, Exchange::Bounds bounds, Exchange::Answerer answerer);

  // Serves the accepted, non-blocking `fd`, or closes it when maxOpen exchanges are open.
  void take(int fd);
  void clear() { open_.clear(); }
  int size() const { return static_cast<int>(open_.size()); }

private:
  std::size_t maxOpen_;
  Exchange::Bounds bounds_;
  Exchange::Answerer answerer_;
  std::unordered_map<Exchange*, std::unique_ptr<Exchange>> open_;  // owned
};

}  // namespace service
