// The one bounded wait of the slot, window and program tests: the thread's socket loop is
// served meanwhile (a relay in this thread keeps relaying; with nothing registered it only
// sleeps between looks). Link relvane_net.
#pragma once

#include <chrono>
#include <functional>

#include "net/EventLoop.h"

namespace testsupport {

// True once `done` holds; false when `timeout` passed first.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  return net::EventLoop::current().runUntil(done, timeout);
}

}  // namespace testsupport
