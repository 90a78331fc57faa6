#include "ProcStat.h"

#include <cstdlib>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace bench {

long rssKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

CpuTimes cpuTimes(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields are counted after its ')'.
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  if (!(fields >> utime >> stime)) return {};
  const double tick = double(::sysconf(_SC_CLK_TCK));
  return {double(utime) / tick, double(stime) / tick};
}

double cpuSeconds(int pid) {
  const CpuTimes t = cpuTimes(pid);
  return t.user < 0 ? -1 : t.user + t.system;
}

long listenOverflows() {
  std::ifstream in("/proc/net/netstat");
  std::string names, values;
  while (std::getline(in, names) && std::getline(in, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value)
      if (name == "ListenOverflows") return std::atol(value.c_str());
  }
  return -1;
}

double machineBusySeconds() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  long long user = 0, nice = 0, system = 0;
  in >> cpu >> user >> nice >> system;
  return double(user + nice + system) / double(::sysconf(_SC_CLK_TCK));
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

int timeWaitSockets() {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // heading
  int count = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    if (fields >> slot >> local >> remote >> state && state == "06") ++count;
  }
  return count;
}

OutsideCpu::OutsideCpu(std::vector<int> pids)
    : pids_(std::move(pids)),
      wall_(std::chrono::steady_clock::now()),
      busy_(machineBusySeconds()),
      own_(ownSeconds()) {}

double OutsideCpu::ownSeconds() const {
  double sum = 0;
  for (int pid : pids_) sum += std::max(0.0, cpuSeconds(pid));
  return sum;
}

double OutsideCpu::percentSinceLast() {
  auto wall = std::chrono::steady_clock::now();
  double busy = machineBusySeconds(), own = ownSeconds();
  double elapsed = std::chrono::duration<double>(wall - wall_).count() * double(::sysconf(_SC_NPROCESSORS_ONLN));
  double outside = (busy - busy_) - (own - own_);
  wall_ = wall;
  busy_ = busy;
  own_ = own;
  return elapsed > 0 ? std::clamp(100.0 * outside / elapsed, 0.0, 100.0) : 0;
}

}  // namespace bench
