#include "IdleSet.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "BenchClient.h"
#include "BenchServer.h"
#include "Protocol.h"

namespace bench {

using Clock = std::chrono::steady_clock;

IdleSet::IdleSet(int port, const BenchServer& server)
    : port_(port), server_(server), baseline_(server.openConnections()) {}

IdleSet::~IdleSet() { closeAll(); }

double IdleSet::growTo(int count, std::chrono::seconds limit) {
  const auto t0 = Clock::now();
  const auto deadline = t0 + limit;
  while (size() < count && Clock::now() < deadline) {
    int fd = connectTo(port_, &error_);
    if (fd < 0) return -1;
    fds_.push_back(fd);
  }
  while (server_.openConnections() < baseline_ + size() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  if (server_.openConnections() < baseline_ + size()) {
    error_ = "not every pair reached the server";
    return -1;
  }
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool IdleSet::echoEach() {
  std::uint8_t msg[kHeaderSize + 1];
  putHeader(msg, 'E', 0);
  msg[kHeaderSize] = 'x';
  for (std::size_t i = 0; i < fds_.size(); ++i) {
    char back = 0;
    if (!sendAll(fds_[i], msg, sizeof msg) || !recvExact(fds_[i], &back, 1) || back != 'x') {
      error_ = "echo failed on connection " + std::to_string(i);
      return false;
    }
  }
  return true;
}

void IdleSet::closeAll() {
  for (int fd : fds_) ::close(fd);
  fds_.clear();
}

bool IdleSet::waitClosed(std::chrono::seconds limit) const {
  const auto deadline = Clock::now() + limit;
  while (server_.openConnections() > baseline_ && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return server_.openConnections() <= baseline_;
}

int idlePairsAllowed(int wanted) {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  long spare = static_cast<long>(limit.rlim_cur) - 200;  // the bench's own and the rate test's
  return static_cast<int>(std::clamp<long>(spare / 2, 0, wanted));
}

}  // namespace bench
