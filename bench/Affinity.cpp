#include "Affinity.h"

#include <dirent.h>

#include <cstdlib>
#include <string>

namespace bench {

namespace {

std::vector<pid_t> threadsOf(int pid) {
  std::vector<pid_t> tids;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') tids.push_back(static_cast<pid_t>(std::atoi(e->d_name)));
    ::closedir(d);
  }
  return tids;
}

}  // namespace

ScopedPin::ScopedPin(const std::vector<int>& pids, int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  for (int pid : pids) {
    for (pid_t tid : threadsOf(pid)) {
      cpu_set_t old;
      if (::sched_getaffinity(tid, sizeof old, &old) != 0 || ::sched_setaffinity(tid, sizeof one, &one) != 0) {
        ok_ = false;
        continue;
      }
      saved_.emplace_back(tid, old);
    }
  }
}

ScopedPin::~ScopedPin() {
  for (auto& [tid, mask] : saved_) ::sched_setaffinity(tid, sizeof mask, &mask);
}

}  // namespace bench
