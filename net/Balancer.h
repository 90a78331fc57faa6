#pragma once
// The choice among a slot's destinations: which one a new client goes to, and which one it tries
// next when a connect fails, so that a client sees a failure only when every destination failed.
// A destination whose connect fails is down for the retry time; one a probe found silent is down
// until a probe or a connect answers. Down ones are tried only after every one that is up.
// The caller gives the time (steady clock) to every call that depends on it.
#include <chrono>
#include <cstdint>
#include <vector>

namespace net {

enum class BalanceMode {
  Failover = 0,          // the first one up, in order
  RoundRobin = 1,        // each one up in turn
  LeastConnections = 2,  // the one up with the fewest live pairs (in turn among equals)
};

class Balancer {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kMaxDestinations = 64;
  static constexpr std::chrono::seconds kDefaultRetryDown{10};

  // What reports show of one destination.
  struct State {
    bool up = true;
    Clock::time_point since{};      // of the last change between up and down; the epoch if none
    Clock::time_point downUntil{};  // while down; Clock::time_point::max() until something answers
    int live = 0;                   // pairs started on it and not ended
    std::uint64_t chosen = 0;       // clients sent to it, retries included
    std::uint64_t failures = 0;     // its connects that failed
  };

  // The destinations one client was sent to; it is never sent to the same one twice.
  class Tried {
  public:
    bool has(int index) const { return mask_ >> index & 1; }

  private:
    friend class Balancer;
    std::uint64_t mask_ = 0;
  };

  // destinations: 1..kMaxDestinations (beyond it the rest are never chosen). retryDown 0: a
  // failed connect is counted but does not take the destination down.
  Balancer(int destinations, BalanceMode mode, std::chrono::seconds retryDown = kDefaultRetryDown);

  // The destination for a new client, -1 when there is none.
  int choose(Tried& tried, Clock::time_point now);
  // The one to try after `after` failed for the same client; -1 once every one was tried.
  int next(Tried& tried, int after, Clock::time_point now);

  // Each true when it changed the destination between up and down (worth a log line).
  bool connectFailed(int index, Clock::time_point now);
  bool connected(int index, Clock::time_point now);
  bool probed(int index, bool answered, Clock::time_point now);
  // A pair's connect to the destination began; it ended (the pair, or that connect failed).
  void pairStarted(int index) { ++states_[index].live; }
  void pairEnded(int index) { --states_[index].live; }

  int size() const { return static_cast<int>(states_.size()); }
  BalanceMode mode() const { return mode_; }
  // As it stands at `now` (a down one whose retry time has passed is up).
  State stateAt(int index, Clock::time_point now) const;

private:
  int pick(Tried& tried, int start, Clock::time_point now);
  bool better(int candidate, int best) const;
  void expire(int index, Clock::time_point now);  // up once its retry time has passed
  bool setUp(int index, bool up, Clock::time_point since, Clock::time_point downUntil = {});

  std::vector<State> states_;
  BalanceMode mode_;
  std::chrono::seconds retryDown_;
  int cursor_ = 0;  // where the next turn starts (round robin, and ties of least connections)
};

}  // namespace net
