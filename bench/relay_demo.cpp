// A headless relay on the product's engine, for benchmarking and trying out:
//
//   relvane-relay [-q] [-l] [-b KiB] LISTEN_PORT HOST PORT
//
// Listens on LISTEN_PORT (every local address) and relays each connection to
// HOST:PORT. The engine's trace goes to standard output; -q sends it to
// /dev/null, as the program does outside debug mode. -b sets the buffer size
// per direction in KiB (default 128). -l writes the event log (one line per
// connection, as a run without a window does) to standard error, so the bench
// can measure what the log costs. SIGINT or SIGTERM stops it cleanly.
//
// The loop is driven as the GUI drives it: wait until the loop's epoll fd is
// readable, then dispatch one round. A signalfd sits in the same poll set.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/EventLog.h"
#include "log/FdSink.h"
#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "net/TcpRepeater.h"
#include "net/Trace.h"
#include "slot/SlotActivity.h"

namespace {

void usage() { std::fprintf(stderr, "usage: relvane-relay [-q] [-l] [-b KiB] LISTEN_PORT HOST PORT\n"); }

bool parsePort(const char* text, int& port) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

// Blocks the stop signals for normal delivery and returns a descriptor that
// becomes readable when one arrives; -1 on failure.
int stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Hands each pair's end and each refused peer to the slot's event log, as a slot does.
struct Logging final : CTcpRepeaterListener {
  CSlotActivity activity;
  void notifyOnConnectionCount(int) override {}
  void notifyOnPairOpen(const CTcpStreamPair& pair) override { activity.pairOpened(pair); }
  void notifyOnPairEnd(const CTcpStreamPair& pair, PairEnding how, int err) override {
    activity.pairEnded(pair, how, err);
  }
  void notifyOnPeerRefused(const std::string& address, int port) override { activity.peerRefused(address, port); }
};

}  // namespace

int main(int argc, char** argv) {
  bool quiet = false;
  bool logging = false;
  int bufferKB = 128;
  int opt;
  while ((opt = getopt(argc, argv, "qlb:")) != -1) {
    if (opt == 'q') {
      quiet = true;
    } else if (opt == 'l') {
      logging = true;
    } else if (opt == 'b') {
      char* end = nullptr;
      long kb = std::strtol(optarg, &end, 10);
      if (end == optarg || *end != '\0' || kb < 1 || kb > CTcpSockStream::kMaxBufferKB) {
        std::fprintf(stderr, "relvane-relay: buffer size must be 1..%d KiB\n", CTcpSockStream::kMaxBufferKB);
        return 2;
      }
      bufferKB = static_cast<int>(kb);
    } else {
      usage();
      return 2;
    }
  }
  int listenPort = 0, forwardPort = 0;
  if (argc - optind != 3 || !parsePort(argv[optind], listenPort) || !parsePort(argv[optind + 2], forwardPort)) {
    usage();
    return 2;
  }
  std::string forwardHost = argv[optind + 1];

  if (quiet && !std::freopen("/dev/null", "w", stdout)) {
    std::perror("relvane-relay: /dev/null");
    return 1;
  }
  traceTargetChanged();
  int signalFd = stopSignals();
  if (signalFd < 0) {
    std::perror("relvane-relay: signalfd");
    return 1;
  }
  if (!socketInit()) {
    std::fprintf(stderr, "relvane-relay: socket layer failed to start\n");
    return 1;
  }

  evlog::FdSink standardError(STDERR_FILENO);  // as the program runs it
  net::EventLoop::current().setRoundEnd([&standardError] { standardError.flush(); });
  Logging log;
  log.activity.switchedOn(0, forwardHost, forwardPort);
  if (logging) evlog::addSink(&standardError);
  CTcpRepeater repeater;  // stopped and destroyed before the loop it registers with
  if (logging) repeater.setListener(&log);
  repeater.setBufferSize(bufferKB);
  repeater.start(listenPort, forwardHost, forwardPort);
  if (!repeater.isListening()) {
    std::fprintf(stderr, "relvane-relay: cannot listen on port %d\n", listenPort);
    return 1;
  }
  std::fprintf(stderr, "relvane-relay: port %d -> %s:%d, %d KiB buffers, pid %d\n", listenPort, forwardHost.c_str(),
               forwardPort, bufferKB, static_cast<int>(getpid()));

  net::EventLoop& loop = net::EventLoop::current();
  pollfd fds[2] = {{loop.fd(), POLLIN, 0}, {signalFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("relvane-relay: poll");
      break;
    }
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signalFd, &info, sizeof info) > 0)
        std::fprintf(stderr, "relvane-relay: %s, stopping\n", strsignal(static_cast<int>(info.ssi_signo)));
      break;
    }
    if (fds[0].revents & POLLIN) loop.dispatch();
  }
  repeater.stop();
  loop.setRoundEnd(nullptr);
  std::fflush(stdout);
  close(signalFd);
  return 0;
}
