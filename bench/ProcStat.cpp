#include "ProcStat.h"

#include <unistd.h>

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

double cpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields are counted after its ')'.
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  if (!(fields >> utime >> stime)) return -1;
  return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

double loadAverage1() {
  std::ifstream in("/proc/loadavg");
  double a = -1;
  in >> a;
  return a;
}

}  // namespace bench
