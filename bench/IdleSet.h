#pragma once
// A set of idle connections through a target, grown in steps and closed all at once: how a
// relay's cost grows with the connections it holds.
#include <chrono>
#include <string>
#include <vector>

namespace bench {

class BenchServer;

class IdleSet {
public:
  IdleSet(int port, const BenchServer& server);
  ~IdleSet();  // closes what is still open
  IdleSet(const IdleSet&) = delete;
  IdleSet& operator=(const IdleSet&) = delete;

  // Opens connections until `count` are open and every one has reached the server; returns
  // the seconds that took, or -1 (error() tells) when it did not get there within `limit`.
  double growTo(int count, std::chrono::seconds limit);
  bool echoEach();  // one 1-byte echo on every connection, each idle again afterwards
  void closeAll();  // at once, without waiting
  // Until the server has seen every connection of the set closed; false on time-out.
  bool waitClosed(std::chrono::seconds limit) const;
  int size() const { return static_cast<int>(fds_.size()); }
  const std::string& error() const { return error_; }

private:
  int port_;
  const BenchServer& server_;
  int baseline_;  // connections the server held before the set
  std::vector<int> fds_;
  std::string error_;
};

// How many idle pairs this process can hold at the same time: it keeps both ends of each.
int idlePairsAllowed(int wanted);

}  // namespace bench
