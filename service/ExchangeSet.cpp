#include "service/ExchangeSet.h"

#include <unistd.h>

namespace service {

ExchangeSet::ExchangeSet(std::size_t maxOpen, Exchange::Bounds bounds, Exchange::Answerer answerer)
    : maxOpen_(maxOpen), bounds_(std::move(bounds)), answerer_(std::move(answerer)) {}

void ExchangeSet::take(int fd) {
  if (open_.size() >= maxOpen_) {
    ::close(fd);
    return;
  }
  auto exchange = std::make_unique<Exchange>(fd, bounds_, answerer_, [this](Exchange& done) { open_.erase(&done); });
  Exchange* key = exchange.get();
  open_.emplace(key, std::move(exchange));
}

}  // namespace service
