// Load generator and measurer for UDP relays: round-trip latency of small datagrams and
// datagrams per second with a window in flight, for small, middle and the largest datagrams and
// for several clients at once, each against every target given, through one in-process echo
// server.
//
//   relvane-udp-bench --server-port S --target NAME=PORT[:PID] [--target ...] [options]
//
// A target is a UDP port on 127.0.0.1 that leads to 127.0.0.1:S (the echo server itself for a
// direct run). The PID, when given, is the relay process whose CPU time is read. Progress goes
// to standard error; the table of results goes to standard output in Markdown.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Figures.h"
#include "ProcStat.h"
#include "UdpClient.h"
#include "UdpEchoServer.h"

using namespace bench;

namespace {

struct Options {
  int serverPort = 0;
  int reps = 3;
  int roundTrips = 5000;
  double seconds = 2;  // per throughput run
  std::uint64_t count = 1000000;
  int window = 32;
  int clients = 8;
  int lossMs = 200;
  std::vector<std::size_t> sizes{64, 1400, 65507};
  std::size_t clientsSize = 1400;
  std::string only = "rtt,window,clients";
  std::string targetNames;  // empty: every --target
};

struct Target {
  std::string name;
  int port = 0;
  int pid = 0;
  bool answers = true;
  double cpuAtStart = -1;
  std::map<std::string, std::string> cells;  // row label -> figure
  std::vector<std::string> errors;
  std::vector<double> outside;  // other processes' CPU % during each measurement
};

void usage() {
  std::fprintf(stderr,
               "usage: relvane-udp-bench --server-port S --target NAME=PORT[:PID] [--target ...]\n"
               "       [--reps 3] [--rtt 5000] [--seconds 2] [--count 1000000] [--window 32]\n"
               "       [--clients 8] [--loss-ms 200] [--sizes 64,1400,65507] [--only rtt,window,clients]\n"
               "       [--targets NAME,NAME...]\n"
               "--seconds and --count bound each throughput run (per socket for --count); --window is\n"
               "the datagrams in flight, shared out among the sockets of the several-clients row.\n");
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

std::vector<std::size_t> parseSizes(const std::string& text) {
  std::vector<std::size_t> sizes;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t comma = std::min(text.find(',', at), text.size());
    sizes.push_back(std::strtoull(text.substr(at, comma - at).c_str(), nullptr, 10));
    at = comma + 1;
  }
  return sizes;
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
    } else if (a == "--reps")
      o.reps = std::atoi(v.c_str());
    else if (a == "--rtt")
      o.roundTrips = std::atoi(v.c_str());
    else if (a == "--seconds")
      o.seconds = std::atof(v.c_str());
    else if (a == "--count")
      o.count = std::strtoull(v.c_str(), nullptr, 10);
    else if (a == "--window")
      o.window = std::atoi(v.c_str());
    else if (a == "--clients")
      o.clients = std::atoi(v.c_str());
    else if (a == "--loss-ms")
      o.lossMs = std::atoi(v.c_str());
    else if (a == "--sizes")
      o.sizes = parseSizes(v);
    else if (a == "--only")
      o.only = v;
    else if (a == "--targets")
      o.targetNames = "," + v + ",";
    else
      return false;
  }
  if (!o.targetNames.empty())
    std::erase_if(targets,
                  [&](const Target& t) { return o.targetNames.find("," + t.name + ",") == std::string::npos; });
  const bool sizesOk = std::all_of(o.sizes.begin(), o.sizes.end(), [](std::size_t s) { return s >= 8 && s <= 65507; });
  return o.serverPort > 0 && !targets.empty() && o.reps > 0 && o.roundTrips > 0 && o.seconds > 0 && o.count > 0 &&
         o.window > 0 && o.clients > 0 && o.lossMs > 0 && sizesOk;
}

OutsideCpu* outsideCpu = nullptr;  // set in main for the whole run

// Ends one measurement of one target: progress line, and what else ran meanwhile.
void note(Target& t, const std::string& what) {
  const double outside = outsideCpu->percentSinceLast();
  t.outside.push_back(outside);
  std::fprintf(stderr, "  %-12s %-58s others %3.0f%% cpu, load %s\n", t.name.c_str(), what.c_str(), outside,
               loadAverage().c_str());
}

void fail(Target& t, const std::string& what, const std::string& error) {
  t.errors.push_back(what + ": " + error);
  std::fprintf(stderr, "  %-12s %s FAILED: %s\n", t.name.c_str(), what.c_str(), error.c_str());
}

const char* const kRttP50 = "RTT p50 us (64 B ping-pong)";
const char* const kRttP99 = "RTT p99 us";
const char* const kRttLost = "round trips lost (not back within the loss timeout)";

// Targets take turns at every repetition, in a rotating order, so a burst of outside load or an
// effect of the run before spreads over all of them.
void measureLatency(const Options& o, std::vector<Target>& targets) {
  std::vector<std::vector<double>> p50(targets.size()), p99(targets.size());
  std::vector<int> lost(targets.size());
  for (int rep = 0; rep < o.reps; ++rep) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const std::size_t i = (k + rep) % targets.size();
      Target& t = targets[i];
      if (!t.answers) continue;
      const UdpRttResult r = udpRoundTrips(t.port, o.roundTrips, o.roundTrips / 10 + 1,
                                           std::chrono::milliseconds(o.lossMs), std::chrono::seconds(60));
      if (!r.ok) {
        fail(t, "rtt rep " + std::to_string(rep + 1), r.error);
        continue;
      }
      p50[i].push_back(r.p50us);
      p99[i].push_back(r.p99us);
      lost[i] += r.lost;
      note(t, "rtt rep " + std::to_string(rep + 1) + ": p50 " + fmt("%.1f", r.p50us) + " p99 " +
                  fmt("%.1f us", r.p99us) + (r.lost ? ", lost " + std::to_string(r.lost) : ""));
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const bool all = p50[i].size() == std::size_t(o.reps);
    targets[i].cells[kRttP50] = all ? fmt("%.1f", median(p50[i])) : "ERROR";
    targets[i].cells[kRttP99] = all ? fmt("%.1f", median(p99[i])) : "ERROR";
    targets[i].cells[kRttLost] = std::to_string(lost[i]) + " of " + std::to_string(o.reps * o.roundTrips);
  }
}

// The four rows of one kind of load.
struct LoadRows {
  std::string rate, mib, lost, cpu;
  explicit LoadRows(const std::string& what)
      : rate("datagrams/s, " + what),
        mib("MiB/s (payload one way), " + what),
        lost("lost %, " + what),
        cpu("relay CPU us per datagram echoed (there and back), " + what) {}
  std::vector<std::string> all() const { return {rate, mib, lost, cpu}; }
};

// Each figure is the median of the repetitions; the relay's CPU time is summed over them all,
// since a clock tick is 10 ms.
void measureLoad(const Options& o, std::vector<Target>& targets, const UdpLoad& shape, const LoadRows& rows) {
  std::vector<std::vector<double>> rate(targets.size()), mib(targets.size()), lost(targets.size());
  std::vector<double> cpu(targets.size()), echoed(targets.size());
  std::vector<bool> failed(targets.size());
  for (int rep = 0; rep < o.reps; ++rep) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const std::size_t i = (k + rep) % targets.size();
      Target& t = targets[i];
      if (!t.answers || failed[i]) continue;
      UdpLoad load = shape;
      load.port = t.port;
      const double cpu0 = t.pid > 0 ? cpuSeconds(t.pid) : -1;
      const UdpLoadResult r = udpWindowed(load);
      const double cpu1 = t.pid > 0 ? cpuSeconds(t.pid) : -1;
      const std::string what = rows.rate.substr(std::string("datagrams/s, ").size()) + " rep " +
                               std::to_string(rep + 1);
      if (!r.ok) {
        failed[i] = true;
        fail(t, what, r.error);
        continue;
      }
      rate[i].push_back(r.perSecond());
      mib[i].push_back(r.mibPerSecond());
      lost[i].push_back(r.lostPercent());
      if (cpu0 >= 0 && cpu1 >= 0) cpu[i] += cpu1 - cpu0, echoed[i] += double(r.answered);
      note(t, what + ": " + fmt("%.0f/s", r.perSecond()) + fmt(" %.1f MiB/s", r.mibPerSecond()) +
                  fmt(" lost %.2f%%", r.lostPercent()) + (r.late ? ", " + std::to_string(r.late) + " late" : "") +
                  (r.empty ? ", " + std::to_string(r.empty) + " empty" : ""));
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    auto& c = targets[i].cells;
    if (failed[i] || rate[i].size() != std::size_t(o.reps)) {
      c[rows.rate] = c[rows.mib] = c[rows.lost] = c[rows.cpu] = "ERROR";
      continue;
    }
    c[rows.rate] = fmt("%.0f", median(rate[i]));
    c[rows.mib] = fmt("%.1f", median(mib[i]));
    c[rows.lost] = fmt("%.2f", median(lost[i]));
    c[rows.cpu] = echoed[i] > 0 ? fmt("%.2f", 1e6 * cpu[i] / echoed[i]) : "-";
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
      std::printf(" %s |", !t.answers ? "no answer" : it == t.cells.end() ? "" : it->second.c_str());
    }
    std::printf("\n");
  }
  std::printf("| relay CPU s used over the whole run (user + system) |");
  for (const Target& t : targets) {
    const double now = t.pid > 0 ? cpuSeconds(t.pid) : -1;
    std::printf(" %s |", t.cpuAtStart >= 0 && now >= 0 ? fmt("%.2f", now - t.cpuAtStart).c_str() : "-");
  }
  std::printf("\n| other processes' CPU %%, worst measurement |");
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
  UdpEchoServer server(o.serverPort);
  if (!server.ok()) return 1;
  std::vector<int> ownPids{static_cast<int>(::getpid())};
  for (Target& t : targets) {
    if (t.pid > 0) ownPids.push_back(t.pid), t.cpuAtStart = cpuSeconds(t.pid);
    t.answers = udpAnswers(t.port);
  }
  OutsideCpu outside(ownPids);
  outsideCpu = &outside;
  std::fprintf(stderr, "udp echo server on 127.0.0.1:%d, load %s\n", o.serverPort, loadAverage().c_str());

  std::vector<std::string> rows;
  auto wants = [&](const char* part) { return o.only.find(part) != std::string::npos; };
  if (wants("rtt")) {
    measureLatency(o, targets);
    rows.insert(rows.end(), {kRttP50, kRttP99, kRttLost});
  }
  UdpLoad shape;
  shape.window = o.window;
  shape.count = o.count;
  shape.duration = std::chrono::duration<double>(o.seconds);
  shape.lossTimeout = std::chrono::milliseconds(o.lossMs);
  if (wants("window")) {
    for (std::size_t size : o.sizes) {
      shape.size = size;
      const LoadRows r(std::to_string(size) + " B, " + std::to_string(o.window) + " in flight");
      measureLoad(o, targets, shape, r);
      for (const std::string& row : r.all()) rows.push_back(row);
    }
  }
  if (wants("clients")) {
    shape.size = o.clientsSize;
    shape.clients = o.clients;
    shape.window = std::max(1, o.window / o.clients);
    const LoadRows r(std::to_string(o.clientsSize) + " B, " + std::to_string(o.clients) + " clients with " +
                     std::to_string(shape.window) + " in flight each");
    measureLoad(o, targets, shape, r);
    for (const std::string& row : r.all()) rows.push_back(row);
  }
  printTable(targets, rows);
  bool allOk = true;
  for (const Target& t : targets) {
    if (!t.answers) std::printf("\n%s did not answer: no echo came back through UDP port %d\n", t.name.c_str(), t.port);
    for (const std::string& e : t.errors) std::printf("\n%s: %s\n", t.name.c_str(), e.c_str());
    allOk = allOk && t.errors.empty();
  }
  return allOk ? 0 : 1;
}
