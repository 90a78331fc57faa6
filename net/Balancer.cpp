#include "net/Balancer.h"

#include <algorithm>

namespace net {

Balancer::Balancer(int destinations, BalanceMode mode, std::chrono::seconds retryDown)
    : states_(std::clamp(destinations, 0, kMaxDestinations)), mode_(mode), retryDown_(retryDown) {}

int Balancer::choose(Tried& tried, Clock::time_point now) {
  return pick(tried, mode_ == BalanceMode::Failover ? 0 : cursor_, now);
}

int Balancer::next(Tried& tried, int after, Clock::time_point now) {
  const int start = mode_ == BalanceMode::Failover ? 0 : mode_ == BalanceMode::RoundRobin ? after + 1 : cursor_;
  return pick(tried, start, now);
}

// One pass from `start` round the list: the untried one that is best, the first of equals.
int Balancer::pick(Tried& tried, int start, Clock::time_point now) {
  const int n = size();
  int best = -1;
  for (int k = 0; k < n; ++k) {
    const int i = (start % n + k) % n;
    expire(i, now);
    if (!tried.has(i) && (best < 0 || better(i, best))) best = i;
  }
  if (best < 0) return -1;
  tried.mask_ |= std::uint64_t{1} << best;
  ++states_[best].chosen;
  cursor_ = (best + 1) % n;
  return best;
}

bool Balancer::better(int candidate, int best) const {
  const State &c = states_[candidate], &b = states_[best];
  if (c.up != b.up) return c.up;
  return c.up && mode_ == BalanceMode::LeastConnections && c.live < b.live;
}

void Balancer::expire(int index, Clock::time_point now) {
  const State& s = states_[index];
  if (!s.up && s.downUntil <= now) setUp(index, true, s.downUntil);
}

bool Balancer::connectFailed(int index, Clock::time_point now) {
  expire(index, now);
  State& s = states_[index];
  ++s.failures;
  if (retryDown_ <= std::chrono::seconds::zero()) return false;
  return setUp(index, false, now, std::max(now + retryDown_, s.up ? now : s.downUntil));
}

bool Balancer::connected(int index, Clock::time_point now) { return setUp(index, true, now); }

bool Balancer::probed(int index, bool answered, Clock::time_point now) {
  return setUp(index, answered, now, answered ? Clock::time_point{} : Clock::time_point::max());
}

bool Balancer::setUp(int index, bool up, Clock::time_point since, Clock::time_point downUntil) {
  State& s = states_[index];
  const bool changed = s.up != up;
  if (changed) s.since = since;
  s.up = up;
  s.downUntil = downUntil;
  return changed;
}

Balancer::State Balancer::stateAt(int index, Clock::time_point now) const {
  State s = states_[index];
  if (!s.up && s.downUntil <= now) s.up = true, s.since = s.downUntil;
  return s;
}

}  // namespace net
