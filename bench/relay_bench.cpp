// Load generator and measurer for a TCP relay: bulk throughput both ways,
// 1-byte round-trip latency, connection rate and memory per idle pair, each
// against every target given, through the same in-process bench server.
//
//   relvane-bench --server-port S --target NAME=PORT[:PID] [--target ...] [options]
//
// A target is a port on 127.0.0.1 that leads to 127.0.0.1:S (the bench server
// itself for a direct run). The PID, when given, is the relay process whose
// CPU time and VmRSS are read. Progress goes to standard error; the table of
// results goes to standard output in Markdown.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Affinity.h"
#include "BenchClient.h"
#include "BenchServer.h"
#include "Figures.h"
#include "IdleSet.h"
#include "ProcStat.h"

using namespace bench;

namespace {

struct Options {
  int serverPort = 0;
  std::uint64_t bulkMiB = 1024;
  int reps = 3;
  int roundTrips = 20000;
  int rttReps = 5;
  int sequentialConns = 2000;
  int concurrentConns = 8000;
  int clients = 16;
  int idlePairs = 1000;
  int churnConns = 40000;
  int growthPairs = 10000;
  int growthReps = 1;
  int limitSeconds = 60;
  std::string only = "bulk,rtt,cps,idle,growth";
  std::string bulkDirections = "up,down";
  std::string targetNames;  // empty: every --target
};

struct Target {
  std::string name;
  int port = 0;
  int pid = 0;
  std::map<std::string, std::string> cells;  // row label -> figure
  std::vector<double> outside;               // other processes' CPU % during each measurement
};

void usage() {
  std::fprintf(stderr,
               "usage: relvane-bench --server-port S --target NAME=PORT[:PID] [--target ...]\n"
               "       [--bulk-mib 1024] [--reps 3] [--rtt 20000] [--rtt-reps 5] [--seq-conns 2000]\n"
               "       [--conc-conns 8000] [--clients 16] [--idle 1000] [--churn 40000] [--limit 60]\n"
               "       [--growth 10000] [--growth-reps 1] [--only bulk,rtt,cps,idle,growth[,churn]]\n"
               "       [--bulk-dir up,down] [--targets NAME,NAME...]\n"
               "churn (not run unless named) opens more connections within a minute than the\n"
               "ephemeral port range holds, so it leaves the ports in TIME_WAIT for a minute.\n");
}

bool parseTarget(const std::string& text, Target& t) {
  auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  t.name = text.substr(0, eq);
  std::string rest = text.substr(eq + 1);
  auto colon = rest.find(':');
  t.port = std::atoi(rest.substr(0, colon).c_str());
  if (colon != std::string::npos) t.pid = std::atoi(rest.substr(colon + 1).c_str());
  return t.port > 0 && t.port < 65536;
}

bool parse(int argc, char** argv, Options& o, std::vector<Target>& targets) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    std::string v = argv[++i];
    if (a == "--server-port") o.serverPort = std::atoi(v.c_str());
    else if (a == "--target") {
      Target t;
      if (!parseTarget(v, t)) return false;
      targets.push_back(t);
    } else if (a == "--bulk-mib")
      o.bulkMiB = std::strtoull(v.c_str(), nullptr, 10);
    else if (a == "--reps")
      o.reps = std::atoi(v.c_str());
    else if (a == "--rtt")
      o.roundTrips = std::atoi(v.c_str());
    else if (a == "--rtt-reps")
      o.rttReps = std::atoi(v.c_str());
    else if (a == "--seq-conns")
      o.sequentialConns = std::atoi(v.c_str());
    else if (a == "--conc-conns")
      o.concurrentConns = std::atoi(v.c_str());
    else if (a == "--clients")
      o.clients = std::atoi(v.c_str());
    else if (a == "--idle")
      o.idlePairs = std::atoi(v.c_str());
    else if (a == "--churn")
      o.churnConns = std::atoi(v.c_str());
    else if (a == "--growth")
      o.growthPairs = std::atoi(v.c_str());
    else if (a == "--growth-reps")
      o.growthReps = std::atoi(v.c_str());
    else if (a == "--targets")
      o.targetNames = "," + v + ",";
    else if (a == "--limit")
      o.limitSeconds = std::atoi(v.c_str());
    else if (a == "--only")
      o.only = v;
    else if (a == "--bulk-dir")
      o.bulkDirections = v;
    else
      return false;
  }
  // --targets measures some of the relays a script starts, in a shorter run.
  if (!o.targetNames.empty())
    std::erase_if(targets,
                  [&](const Target& t) { return o.targetNames.find("," + t.name + ",") == std::string::npos; });
  return o.serverPort > 0 && !targets.empty() && o.growthReps > 0 && o.reps > 0 && o.rttReps > 0 && o.bulkMiB > 0 &&
         o.clients > 0;
}

const char* const kRttP50 = "RTT p50 us (1-byte echo)";
const char* const kRttP99 = "RTT p99 us";
const char* const kConnCpu = "relay CPU us per connection with many clients (user + system)";
const char* const kRttPinnedP50 = "RTT p50 us, all on 1 CPU";
const char* const kRttPinnedP99 = "RTT p99 us, all on 1 CPU";

OutsideCpu* outsideCpu = nullptr;  // set in main for the whole run

// Ends one measurement of one target: progress line, and what else ran meanwhile.
void note(Target& t, const std::string& what) {
  double outside = outsideCpu->percentSinceLast();
  t.outside.push_back(outside);
  std::fprintf(stderr, "  %-12s %-40s others %3.0f%% cpu, load %s\n", t.name.c_str(), what.c_str(), outside,
               loadAverage().c_str());
}

// Targets take turns at every repetition, in a rotating order, so a burst of
// outside load or an effect of the run before spreads over all of them.
void measureBulk(const Options& o, std::vector<Target>& targets) {
  const std::uint64_t bytes = o.bulkMiB * 1024 * 1024;
  const std::chrono::seconds limit(o.limitSeconds);
  std::vector<std::vector<double>> up(targets.size()), down(targets.size()), cpu(targets.size());
  std::vector<std::string> errors(targets.size());
  const bool doUp = o.bulkDirections.find("up") != std::string::npos;
  const bool doDown = o.bulkDirections.find("down") != std::string::npos;
  for (int rep = 0; rep < o.reps; ++rep) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      std::size_t i = (k + rep) % targets.size();  // no target always follows the same one
      Target& t = targets[i];
      double cpu0 = t.pid > 0 ? cpuSeconds(t.pid) : -1;
      BulkResult u, d;
      if (doUp) u = bulkUpload(t.port, bytes, limit);
      if (doDown) d = bulkDownload(t.port, bytes, limit);
      double cpu1 = t.pid > 0 ? cpuSeconds(t.pid) : -1;
      if (u.ok) up[i].push_back(u.mibPerSecond());
      else if (doUp)
        errors[i] = "upload: " + u.error;
      if (d.ok) down[i].push_back(d.mibPerSecond());
      else if (doDown)
        errors[i] = "download: " + d.error;
      double gib = (doUp + doDown) * double(bytes) / (1024.0 * 1024 * 1024);
      if (cpu0 >= 0 && cpu1 >= 0) cpu[i].push_back((cpu1 - cpu0) / gib);
      note(t, "bulk rep " + std::to_string(rep + 1) + ": " + fmt("%.0f", u.mibPerSecond()) + " / " +
                  fmt("%.0f MiB/s", d.mibPerSecond()));
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    auto& c = targets[i].cells;
    auto cell = [&](bool wanted, const std::vector<double>& v) {
      return !wanted ? std::string("-") : v.size() == std::size_t(o.reps) ? fmt("%.0f", median(v)) : "FAILED";
    };
    c["upload MiB/s (client->server)"] = cell(doUp, up[i]);
    c["download MiB/s (server->client)"] = cell(doDown, down[i]);
    c["relay CPU s per GiB relayed"] = cpu[i].empty() ? "-" : fmt("%.2f", median(cpu[i]));
    if (!errors[i].empty()) std::fprintf(stderr, "  %s: %s\n", targets[i].name.c_str(), errors[i].c_str());
  }
}

// The bench (client and server) and the target all on CPU 0.
LatencyResult pinnedLatency(const Options& o, const Target& t) {
  std::vector<int> pids{static_cast<int>(::getpid())};
  if (t.pid > 0) pids.push_back(t.pid);
  ScopedPin pin(pids, 0);
  LatencyResult r = latency(t.port, o.roundTrips, 1000, std::chrono::seconds(o.limitSeconds));
  if (!pin.ok()) r.ok = false, r.error += " (pinning failed)";
  return r;
}

// Latency depends on where the scheduler puts the three parties, so it is taken
// twice: as the scheduler places them (median over the repetitions, targets
// taking turns) and with the bench and the target pinned to CPU 0.
void measureLatency(const Options& o, std::vector<Target>& targets) {
  const std::chrono::seconds limit(o.limitSeconds);
  std::vector<std::vector<double>> p50(targets.size()), p99(targets.size());
  for (int rep = 0; rep < o.rttReps; ++rep) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      std::size_t i = (k + rep) % targets.size();
      LatencyResult r = latency(targets[i].port, o.roundTrips, 1000, limit);
      if (r.ok) {
        p50[i].push_back(r.p50us);
        p99[i].push_back(r.p99us);
      }
      note(targets[i],
           "rtt p50 " + fmt("%.1f", r.p50us) + " p99 " + fmt("%.1f us", r.p99us) + (r.ok ? "" : " " + r.error));
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    bool all = p50[i].size() == std::size_t(o.rttReps);
    targets[i].cells[kRttP50] = all ? fmt("%.1f", median(p50[i])) : "FAILED";
    targets[i].cells[kRttP99] = all ? fmt("%.1f", median(p99[i])) : "FAILED";
  }
  for (Target& t : targets) {
    LatencyResult r = pinnedLatency(o, t);
    t.cells[kRttPinnedP50] = r.ok ? fmt("%.1f", r.p50us) : "FAILED";
    t.cells[kRttPinnedP99] = r.ok ? fmt("%.1f", r.p99us) : "FAILED";
    note(t, "rtt 1 CPU p50 " + fmt("%.1f", r.p50us) + " p99 " + fmt("%.1f us", r.p99us) + (r.ok ? "" : " " + r.error));
  }
}

// Every connection leaves a socket in TIME_WAIT for a minute, and a connect has to find a port
// among them: a target measured after the others would pay for their connections. So the
// targets take turns in a rotating order, --reps times, and each figure is the median.
void measureRate(const Options& o, std::vector<Target>& targets) {
  const std::chrono::seconds limit(o.limitSeconds);
  std::vector<std::vector<double>> seq(targets.size()), conc(targets.size());
  std::vector<int> short_(targets.size(), 0);
  // The relay's CPU time over all the runs with many clients, where the relay is the busy party:
  // clock ticks are coarse, so it is summed rather than taken per run.
  std::vector<double> user(targets.size()), system(targets.size()), served(targets.size());
  for (int rep = 0; rep < o.reps; ++rep) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const std::size_t i = (k + rep) % targets.size();
      RateResult s = connectRate(targets[i].port, 1, o.sequentialConns, limit);
      const CpuTimes before = targets[i].pid > 0 ? cpuTimes(targets[i].pid) : CpuTimes{};
      RateResult c = connectRate(targets[i].port, o.clients, o.concurrentConns, limit);
      const CpuTimes after = targets[i].pid > 0 ? cpuTimes(targets[i].pid) : CpuTimes{};
      if (before.user >= 0 && after.user >= 0) {
        user[i] += after.user - before.user;
        system[i] += after.system - before.system;
        served[i] += c.done;
      }
      seq[i].push_back(s.perSecond());
      conc[i].push_back(c.perSecond());
      if (s.done < o.sequentialConns || c.done < o.concurrentConns) ++short_[i];
      note(targets[i], "conn/s rep " + std::to_string(rep + 1) + ": " + fmt("%.0f", s.perSecond()) + " / " +
                           fmt("%.0f", c.perSecond()) +
                           (s.failed + c.failed ? " failures " + std::to_string(s.failed + c.failed) : ""));
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const std::string incomplete = short_[i] ? " (" + std::to_string(short_[i]) + " runs incomplete)" : "";
    targets[i].cells["conn/s sequential"] = fmt("%.0f", median(seq[i])) + incomplete;
    targets[i].cells["conn/s " + std::to_string(o.clients) + " clients"] = fmt("%.0f", median(conc[i])) + incomplete;
    targets[i].cells[kConnCpu] = served[i] <= 0 ? "-"
                                                : fmt("%.1f", 1e6 * user[i] / served[i]) + " + " +
                                                      fmt("%.1f", 1e6 * system[i] / served[i]);
  }
}

const char* const kIdleQuiet = "idle KiB per pair (connected, no data)";
const char* const kIdleEchoed = "idle KiB per pair (after 1-byte echo)";
const char* const kIdleBulk = "idle KiB per pair (after 1 MiB echo)";

const char* const kChurn = "connections refused while churning";

// More connections within a minute than there are ephemeral ports: a relay that
// cannot reuse its TIME_WAIT ports for the outgoing leg starts refusing.
// Each target starts with the ports free: waits (a minute at most) for the
// TIME_WAIT sockets of the one before to expire.
void measureChurn(const Options& o, std::vector<Target>& targets) {
  for (Target& t : targets) {
    for (int s = 0; s < 70 && timeWaitSockets() > 1000; ++s) std::this_thread::sleep_for(std::chrono::seconds(1));
    RateResult r = connectRate(t.port, o.clients, o.churnConns, std::chrono::seconds(o.limitSeconds));
    int tried = r.done + r.failed;
    std::string cell = std::to_string(r.failed) + " of " + std::to_string(tried);
    if (tried < o.churnConns) cell += " (stopped)";
    t.cells[kChurn] = cell;
    note(t, "churn " + fmt("%.0f conn/s, ", r.perSecond()) + cell + " refused");
  }
}

void measureIdle(const Options& o, std::vector<Target>& targets, const BenchServer& server) {
  for (Target& t : targets) {
    if (t.pid <= 0) {
      t.cells[kIdleQuiet] = t.cells[kIdleEchoed] = t.cells[kIdleBulk] = "-";
      continue;
    }
    IdleResult r = idleMemory(t.port, t.pid, o.idlePairs, server, std::chrono::seconds(o.limitSeconds));
    t.cells[kIdleQuiet] = r.ok ? fmt("%.1f", r.perPair(r.rssQuietKiB)) : "FAILED";
    t.cells[kIdleEchoed] = r.ok ? fmt("%.1f", r.perPair(r.rssEchoedKiB)) : "FAILED";
    t.cells[kIdleBulk] = r.ok ? fmt("%.1f", r.perPair(r.rssBulkKiB)) : "FAILED";
    note(t, "idle " + fmt("%.1f", r.perPair(r.rssQuietKiB)) + " / " + fmt("%.1f", r.perPair(r.rssEchoedKiB)) + " / " +
                fmt("%.1f KiB/pair", r.perPair(r.rssBulkKiB)) + " (VmRSS " + std::to_string(r.rssBeforeKiB) + " " +
                std::to_string(r.rssQuietKiB) + " " + std::to_string(r.rssEchoedKiB) + " " +
                std::to_string(r.rssBulkKiB) + ")" + (r.ok ? "" : " " + r.error));
  }
}

struct GrowthRows {
  std::string open, overflows, rateAfter, rtt0, rtt1k, rttN, rss;
  explicit GrowthRows(int n)
      : open("seconds to open " + std::to_string(n) + " idle pairs"),
        overflows("connections the kernel turned away for a full accept queue while opening them"),
        rateAfter("conn/s sequential right after " + std::to_string(n) + " pairs closed at once"),
        rtt0("RTT p50 us, 1 CPU, no idle pair held"),
        rtt1k("RTT p50 us, 1 CPU, " + std::to_string(std::min(n, 1000)) + " idle pairs held"),
        rttN("RTT p50 us, 1 CPU, " + std::to_string(n) + " idle pairs held"),
        rss("RSS MiB before / at peak / after a burst of " + std::to_string(n) + " pairs") {}
  std::vector<std::string> all() const { return {open, overflows, rateAfter, rtt0, rtt1k, rttN, rss}; }
};

// What one burst measured for one target; a negative figure failed.
struct Burst {
  double open = -1, overflows = -1, rateAfter = -1, rtt0 = -1, rtt1k = -1, rttN = -1;
  long before = 0, peak = 0, after = 0;  // the relay's RSS in KiB; 0: not known
  std::string failure;                   // empty when every pair echoed and closed
};

// Idle pairs opened in two steps (round trips measured with none, 1000 and all of them held), a
// 1-byte echo on each, all closed at once and connections made at once after that; the relay's
// memory before, at its peak and once everything has closed.
Burst burstOnce(const Options& o, const Target& t, const BenchServer& server, int n) {
  const std::chrono::seconds limit(o.limitSeconds);
  auto rtt = [&] {
    LatencyResult r = pinnedLatency(o, t);
    return r.ok ? r.p50us : -1.0;
  };
  for (int s = 0; s < 70 && timeWaitSockets() > 1000; ++s) std::this_thread::sleep_for(std::chrono::seconds(1));
  Burst b;
  b.before = t.pid > 0 ? rssKiB(t.pid) : 0;
  b.rtt0 = rtt();
  // What an earlier measurement left open (its close still on the way) would be counted as
  // one of this burst's pairs.
  for (int s = 0; s < 1000 && server.openConnections() > 0; ++s)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  IdleSet set(t.port, server);
  const long overflowed = listenOverflows();
  double first = set.growTo(std::min(1000, n), limit);
  if (first >= 0) b.rtt1k = rtt();
  double rest = first >= 0 ? set.growTo(n, limit) : -1;
  if (rest >= 0) {
    b.open = first + rest;
    // Each one waits for its SYN to be sent again, a second later: a relay that accepts more
    // slowly than connections arrive shows it here rather than in its own time.
    if (overflowed >= 0) b.overflows = double(listenOverflows() - overflowed);
    b.rttN = rtt();
  }
  b.peak = t.pid > 0 ? rssKiB(t.pid) : 0;
  bool echoed = rest >= 0 && set.echoEach();
  if (t.pid > 0) b.peak = std::max(b.peak, rssKiB(t.pid));
  set.closeAll();
  RateResult rate = connectRate(t.port, 1, o.sequentialConns, limit);
  if (rate.done == o.sequentialConns) b.rateAfter = rate.perSecond();
  bool closed = set.waitClosed(limit);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  b.after = t.pid > 0 ? rssKiB(t.pid) : 0;
  if (!echoed || !closed) b.failure = set.error().empty() ? "close" : set.error();
  return b;
}

// --growth-reps bursts per target, the targets taking turns in a rotating order as in the rate
// rows; each figure is the median of its bursts. The memory row spans all of them: before the
// first, the highest peak, after the last.
void measureGrowth(const Options& o, std::vector<Target>& targets, const BenchServer& server, int n) {
  const GrowthRows rows(n);
  std::vector<std::vector<Burst>> bursts(targets.size());
  for (int rep = 0; rep < o.growthReps; ++rep) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const std::size_t i = (k + rep) % targets.size();
      const Burst b = burstOnce(o, targets[i], server, n);
      bursts[i].push_back(b);
      note(targets[i], "growth burst " + std::to_string(rep + 1) + ": open " + fmt("%.2f s", b.open) + " (" +
                           fmt("%.0f", b.overflows) + " turned away), rtt " + fmt("%.1f", b.rtt0) + "/" +
                           fmt("%.1f", b.rtt1k) + "/" + fmt("%.1f", b.rttN) + ", conn/s after " +
                           fmt("%.0f", b.rateAfter) + ", RSS KiB " + std::to_string(b.before) + " / " +
                           std::to_string(b.peak) + " / " + std::to_string(b.after) +
                           (b.failure.empty() ? "" : " FAILED: " + b.failure));
    }
  }
  auto mib = [](long kib) { return kib > 0 ? fmt("%.1f", kib / 1024.0) : std::string("-"); };
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const std::vector<Burst>& runs = bursts[i];
    auto cell = [&](double Burst::*field, const char* format) {
      std::vector<double> v;
      for (const Burst& b : runs)
        if (b.*field >= 0) v.push_back(b.*field);
      return v.size() == runs.size() ? fmt(format, median(v)) : std::string("FAILED");
    };
    auto& c = targets[i].cells;
    c[rows.open] = cell(&Burst::open, "%.2f");
    c[rows.overflows] = cell(&Burst::overflows, "%.0f");
    c[rows.rateAfter] = cell(&Burst::rateAfter, "%.0f");
    c[rows.rtt0] = cell(&Burst::rtt0, "%.1f");
    c[rows.rtt1k] = cell(&Burst::rtt1k, "%.1f");
    c[rows.rttN] = cell(&Burst::rttN, "%.1f");
    long peak = 0;
    std::string failure;
    for (const Burst& b : runs) {
      peak = std::max(peak, b.peak);
      if (failure.empty()) failure = b.failure;
    }
    c[rows.rss] = targets[i].pid <= 0 ? "-"
                                      : mib(runs.front().before) + " / " + mib(peak) + " / " + mib(runs.back().after);
    if (!failure.empty()) c[rows.rss] += " (FAILED: " + failure + ")";
  }
}

void printTable(const std::vector<Target>& targets, const std::vector<std::string>& rows) {
  std::printf("| measurement |");
  for (const Target& t : targets) std::printf(" %s |", t.name.c_str());
  std::printf("\n|---|");
  for (std::size_t i = 0; i < targets.size(); ++i) std::printf("---:|");
  std::printf("\n");
  for (const std::string& row : rows) {
    std::printf("| %s |", row.c_str());
    for (const Target& t : targets) {
      auto it = t.cells.find(row);
      std::printf(" %s |", it == t.cells.end() ? "" : it->second.c_str());
    }
    std::printf("\n");
  }
  std::printf("| other processes' CPU %%, worst measurement |");
  for (const Target& t : targets) std::printf(" %s |", worst(t.outside).c_str());
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<Target> targets;
  if (!parse(argc, argv, o, targets)) {
    usage();
    return 2;
  }
  BenchServer server(o.serverPort);
  if (!server.ok()) return 1;
  std::vector<int> ownPids{static_cast<int>(::getpid())};
  for (const Target& t : targets)
    if (t.pid > 0) ownPids.push_back(t.pid);
  OutsideCpu outside(ownPids);
  outsideCpu = &outside;
  std::fprintf(stderr, "bench server on 127.0.0.1:%d, load %s\n", o.serverPort, loadAverage().c_str());

  std::vector<std::string> rows;
  auto wants = [&](const char* part) { return o.only.find(part) != std::string::npos; };
  // Memory first, while no earlier connection has left pooled memory behind in a target.
  if (wants("idle")) {
    measureIdle(o, targets, server);
    rows.insert(rows.end(), {kIdleQuiet, kIdleEchoed, kIdleBulk});
  }
  if (wants("bulk")) {
    measureBulk(o, targets);
    rows.insert(rows.end(),
                {"upload MiB/s (client->server)", "download MiB/s (server->client)", "relay CPU s per GiB relayed"});
  }
  if (wants("rtt")) {
    measureLatency(o, targets);
    rows.insert(rows.end(), {kRttP50, kRttP99, kRttPinnedP50, kRttPinnedP99});
  }
  if (wants("cps")) {
    measureRate(o, targets);
    rows.insert(rows.end(), {"conn/s sequential", "conn/s " + std::to_string(o.clients) + " clients", kConnCpu});
  }
  if (wants("growth")) {
    int n = idlePairsAllowed(o.growthPairs);
    if (n < o.growthPairs)
      std::fprintf(stderr, "growth: %d pairs, not %d: this process may hold %d descriptors (both ends of each)\n", n,
                   o.growthPairs, 2 * n + 200);
    measureGrowth(o, targets, server, n);
    auto g = GrowthRows(n).all();
    rows.insert(rows.end(), g.begin(), g.end());
  }
  if (o.only.find("churn") != std::string::npos) {
    measureChurn(o, targets);
    rows.push_back(kChurn);
  }
  printTable(targets, rows);
  bool allOk = true;
  for (const Target& t : targets)
    for (const auto& [row, cell] : t.cells)
      if (cell.find("FAILED") != std::string::npos) allOk = false;
  return allOk ? 0 : 1;
}
