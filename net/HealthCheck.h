#pragma once
// The health probes of a slot's destinations: every interval each one gets a plain TCP connect,
// closed as soon as it answers (after a PROXY header of the LOCAL kind, when the slot sends the
// header, so the destination does not take the probe for a broken client). A probe still
// unanswered when the next round begins counts as no answer.
#include <functional>
#include <memory>
#include <vector>

#include "net/TcpConnector.h"
#include "net/TimerQueue.h"

namespace net {

class HealthCheck {
public:
  // Each probe's outcome, by the destination's index.
  using Report = std::function<void(int destination, bool answered)>;

  // destinations: copied; intervalSeconds > 0; sendProxy: 0, or the header version to send.
  HealthCheck(std::vector<Destination> destinations, int intervalSeconds, int sendProxy, Report report);
  ~HealthCheck();
  HealthCheck(const HealthCheck&) = delete;
  HealthCheck& operator=(const HealthCheck&) = delete;

private:
  class Probe;
  void round();
  void probe(int index, const SocketAddress& address);
  void answered(int index, bool ok);  // drops the probe

  std::vector<Destination> destinations_;
  int interval_;
  int sendProxy_;
  Report report_;
  std::vector<std::unique_ptr<Probe>> probes_;  // per destination, while one is under way
  Timer timer_;
};

}  // namespace net
