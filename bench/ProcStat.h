#pragma once
// Readings from /proc for the process under measurement and for the machine.
#include <string>

namespace bench {

long rssKiB(int pid);          // VmRSS; -1 when it cannot be read
double cpuSeconds(int pid);    // user + system time so far; -1 when it cannot be read
std::string loadAverage();     // the first three fields of /proc/loadavg
double loadAverage1();         // the one-minute figure

}  // namespace bench
