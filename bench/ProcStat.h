#pragma once
// Readings from /proc for the process under measurement and for the machine.
#include <chrono>
#include <string>
#include <vector>

namespace bench {

long rssKiB(int pid);  // VmRSS; -1 when it cannot be read
struct CpuTimes {
  double user = -1, system = -1;  // seconds so far; -1 when they cannot be read
};
CpuTimes cpuTimes(int pid);
double cpuSeconds(int pid);  // user + system time so far; -1 when it cannot be read
// User and system time of every CPU since boot. Interrupt time is left out:
// the loopback traffic of the bench itself is charged there, to no process.
double machineBusySeconds();
std::string loadAverage();
// Connections the kernel turned away because an accept queue was full, since boot, all
// listeners together (TcpExt ListenOverflows); -1 when it cannot be read.
long listenOverflows();
int timeWaitSockets();  // IPv4 TCP sockets in TIME_WAIT, from /proc/net/tcp     // the first three fields of /proc/loadavg

// How much of the machine processes other than the given ones used between
// two calls: the load average cannot tell, since the bench itself is load.
class OutsideCpu {
public:
  explicit OutsideCpu(std::vector<int> pids);
  double percentSinceLast();  // of all CPUs together; 0..100

private:
  double ownSeconds() const;
  std::vector<int> pids_;
  std::chrono::steady_clock::time_point wall_;
  double busy_ = 0, own_ = 0;
};

}  // namespace bench
