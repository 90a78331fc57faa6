#pragma once
// Pins every thread of some processes to one CPU for a while and puts their
// CPU masks back afterwards. On a VM a wake-up across CPUs can cost more than
// the whole relay path, so latency is also measured with everything on one CPU.
#include <sched.h>
#include <sys/types.h>

#include <utility>
#include <vector>

namespace bench {

class ScopedPin {
public:
  ScopedPin(const std::vector<int>& pids, int cpu);
  ~ScopedPin();
  ScopedPin(const ScopedPin&) = delete;
  ScopedPin& operator=(const ScopedPin&) = delete;
  bool ok() const { return ok_; }

private:
  std::vector<std::pair<pid_t, cpu_set_t>> saved_;  // thread id -> its mask before pinning
  bool ok_ = true;
};

}  // namespace bench
