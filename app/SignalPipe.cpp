#include "app/SignalPipe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace {
// Both ends live until the process ends: a late signal still has somewhere to go.
int pipeRead = -1;
int pipeWrite = -1;
bool closing = false;    // a signal read during the start asked to close
bool reloading = false;  // one asked to reload

extern "C" void onTerminationSignal(int signo) {
  int savedErrno = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  // A full pipe already holds a request to close; dropping this one loses nothing.
  (void)!::write(pipeWrite, &byte, 1);
  errno = savedErrno;
}
}  // namespace

SignalAction signalAction(int signo, int debugMode, bool headless) {
  switch (signo) {
    case SIGTERM: return SignalAction::CloseInOrder;
    case SIGHUP: return headless ? SignalAction::Reload : SignalAction::CloseInOrder;
    case SIGINT: return (debugMode != 0 && !headless) ? SignalAction::Ignore : SignalAction::CloseInOrder;
    default: return SignalAction::Ignore;
  }
}

bool CSignalPipe::install() {
  if (pipeRead < 0) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    pipeRead = fds[0];
    pipeWrite = fds[1];
  }
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigset_t ours;
  sigemptyset(&ours);
  for (int signo : {SIGTERM, SIGHUP, SIGINT}) {
    ::sigaction(signo, &action, nullptr);
    sigaddset(&ours, signo);
  }
  // A launcher may hand its blocked signals down: held back, they could never stop the program.
  ::sigprocmask(SIG_UNBLOCK, &ours, nullptr);
  return true;
}

bool CSignalPipe::closeAsked(int debugMode, bool headless) {
  for (int signo : drain()) {
    const SignalAction action = signalAction(signo, debugMode, headless);
    closing = closing || action == SignalAction::CloseInOrder;
    reloading = reloading || action == SignalAction::Reload;
  }
  return closing;
}

bool CSignalPipe::reloadAsked() { return std::exchange(reloading, false); }

void CSignalPipe::restoreDefaults() {
  for (int signo : {SIGTERM, SIGHUP, SIGINT}) ::signal(signo, SIG_DFL);
}

int CSignalPipe::readFd() { return pipeRead; }

std::vector<int> CSignalPipe::drain() {
  std::vector<int> signals;
  if (pipeRead < 0) return signals;
  unsigned char buffer[64];
  for (;;) {
    ssize_t n = ::read(pipeRead, buffer, sizeof(buffer));
    if (n > 0) {
      signals.insert(signals.end(), buffer, buffer + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return signals;
}
